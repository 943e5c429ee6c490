// ufd-drives: its listing and rules in-process on a fake sysfs, and the real
// binary's answers to its options.
#include "drives_report.h"
#include "fake_sysfs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace {
namespace fs = std::filesystem;
using sgtest::FakeDrive;

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A PC disk, an off-list card reader and the sticks of the line in every state.
void populate(sgtest::FakeTree& tree) {
    tree.add({.sg = 0, .driver = "", .vendor = "ATA", .model = "FastDisk", .block = "sda"});
    tree.add({.sg = 1, .serial = "S1", .port = "1-2", .block = "sdb"});
    tree.add({.sg = 2, .serial = "", .port = "1-1", .vid = 0x0BDA, .block = "sdc"});
    tree.add({.sg = 3, .port = "1-3", .block = "sdd", .blockSize = 4096});
    tree.add({.sg = 4, .port = "1-4", .block = "sde"});
    tree.add({.sg = 5, .port = "1-5", .block = "sdf", .holder = "dm-0"});
    tree.add({.sg = 6, .port = "1-6", .block = ""});
    tree.setMountInfo("40 22 8:0 / /boot rw - ext4 /dev/sda rw\n"
                      "41 22 8:65 / /media/op/STICK rw - vfat /dev/sde1 rw\n");
}

TEST(UfdDrives, ListsEveryDeviceWithItsIndexStateAndVerdict) {
    sgtest::FakeTree tree;
    populate(tree);
    const std::string table =
        ufd::drives::table(ufd::drives::driveRows(tree.roots(), sgtest::lineConf()));
    const char* expected[] = {
        "sg index block port vid:pid serial blocksize state station",
        "sg0 - sda - - - 512 mounted no: /dev/sg0 is not USB storage",
        "sg1 0 sdb 1-2 1234:5678 S1 512 free yes",
        "sg2 - sdc 1-1 0bda:5678 - 512 free no: USB 0bda:5678 is not in [Drives] Allow= of "
        "/etc/quorlink/test.conf",
        "sg3 1 sdd 1-3 1234:5678 0123ABCD 4096 free no: /dev/sdd has 4096-byte logical blocks, "
        "not 512",
        "sg4 2 sde 1-4 1234:5678 0123ABCD 512 mounted no: /dev/sde1 is mounted on /media/op/STICK",
        "sg5 3 sdf 1-5 1234:5678 0123ABCD 512 held no: /dev/sdf is held by dm-0",
        "sg6 4 - 1-6 1234:5678 0123ABCD - - no: /dev/sg6 has no block device yet",
    };
    std::istringstream lines(table);
    std::vector<std::string> squeezed;
    std::set<size_t> verdictAt; // columns line up: one place on every line
    for (std::string line, word; std::getline(lines, line);) {
        const size_t row = squeezed.size();
        verdictAt.insert(line.find(row == 0 ? "station" : (row == 2 ? "yes" : "no: ")));
        std::istringstream words(line);
        squeezed.emplace_back();
        while (words >> word) {
            squeezed.back() += (squeezed.back().empty() ? "" : " ") + word;
        }
    }
    EXPECT_EQ(squeezed, std::vector<std::string>(std::begin(expected), std::end(expected)));
    EXPECT_EQ(verdictAt.size(), 1u) << table;
}

TEST(UfdDrives, UdevRulesForTheAllowedDrivesOnly) {
    quorlink::QuorlinkConf conf = sgtest::lineConf();
    EXPECT_FALSE(ufd::drives::udevRules(quorlink::QuorlinkConf{}));
    conf.allow.push_back({0xABCD, 0x00EF});
    const std::string rules = *ufd::drives::udevRules(conf);
    for (const char* rule : {
             "SUBSYSTEM==\"scsi_generic\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"1234\", "
             "ATTRS{idProduct}==\"5678\", GROUP=\"ufdstation\", MODE=\"0660\"\n",
             "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"disk\", SUBSYSTEMS==\"usb\", "
             "ATTRS{idVendor}==\"abcd\", ATTRS{idProduct}==\"00ef\", GROUP=\"ufdstation\", "
             "MODE=\"0660\", ENV{UDISKS_IGNORE}=\"1\"\n",
             "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"partition\", SUBSYSTEMS==\"usb\", "
             "ATTRS{idVendor}==\"abcd\", ATTRS{idProduct}==\"00ef\", ENV{UDISKS_IGNORE}=\"1\"\n",
         }) {
        EXPECT_NE(rules.find(rule), std::string::npos) << rule << "\nin\n" << rules;
    }
    EXPECT_EQ(rules.find("0bda"), std::string::npos);
}

TEST(UfdDrives, BinaryReadsItsConfAndAnswersEveryOption) {
    sgtest::FakeTree tree;
    populate(tree);
    const fs::path conf = tree.root() / "quorlink.conf", out = tree.root() / "out",
                   err = tree.root() / "err";
    ::setenv("QUORLINK_CONF", conf.c_str(), 1);
    const std::string allowLine = "[Drives]\nAllow=1234:5678\n";
    const std::string badBlock = "[VendorBlock]\nDataLength=13:4\n";
    const std::string roots = " --sys '" + tree.roots().sys.string() + "' --dev '" +
                              tree.roots().dev.string() + "' --mountinfo '" +
                              tree.roots().mountInfo.string() + "'";
    struct Case {
        std::string args;
        int exitCode;
        std::string inOut, inErr;
        const std::string* confText = nullptr; // nullptr: no file
    };
    const Case cases[] = {
        // No file: nothing is allowed, and each USB drive says which file to edit.
        {roots, 0, "USB 1234:5678 is not in [Drives] Allow= of " + conf.string() + "\n", ""},
        {"--udev-rules", 1, "", "[Drives] Allow= of " + conf.string() + " lists no drive"},
        {roots, 0, "\nsg1  0 ", "", &allowLine},
        {"--udev-rules", 0, "ATTRS{idVendor}==\"1234\", ATTRS{idProduct}==\"5678\"", "",
         &allowLine},
        {"--show-block 0x75", 0, "C6 01 75 00 00 00 00 00 00 00 02 00 00 00 00 00\n", ""},
        {"--show-block 7", 1, "", "[VendorBlock] DataLength=13:4: does not fit", &badBlock},
        {"--show-block 256", 2, "", "usage: ufd-drives"},
        {"--show-block", 2, "", "usage: ufd-drives"},
        {"--udev-rules --show-block 1", 2, "", "usage: ufd-drives"},
        {"list", 2, "", "usage: ufd-drives"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove(conf);
        if (c.confText != nullptr) {
            sgtest::writeFile(conf, *c.confText);
        }
        const int status = std::system((std::string(UFD_DRIVES_BIN) + " " + c.args + " >'" +
                                        out.string() + "' 2>'" + err.string() + "'")
                                           .c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitCode);
        EXPECT_NE(slurp(out).find(c.inOut), std::string::npos) << slurp(out);
        EXPECT_NE(slurp(err).find(c.inErr), std::string::npos) << slurp(err);
    }
    ::unsetenv("QUORLINK_CONF");
}

} // namespace
