"""The program directory as a package installs it, for tests that run the
station through a copy: the station finds Product.ini, Vasket and the
library beside itself, so a copy tests what a line PC runs, not the build
tree's layout."""

import os
import shutil


def copy_program(bin_dir, source_dir, into):
    """Copies the station, its monitor, the library and the example
    Product.ini into INTO/bin and returns that folder."""
    program = os.path.join(into, "bin")
    os.mkdir(program)
    for name in ("ufd-station", "Vasket", "libquorlink.so"):
        shutil.copy(os.path.join(bin_dir, name), program)
    shutil.copy(os.path.join(source_dir, "examples/Product.ini"), program)
    return program
