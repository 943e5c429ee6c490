// ufd-drives: every SCSI generic device as the station's real-drive backend
// sees it, the udev rules for the drives it may touch, and the bytes of a
// vendor command block.
#include "drives_report.h"
#include "encoder.h"
#include "platform/program_info.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: ufd-drives [--udev-rules | --show-block CODE]\n"
    "  (no option)          every SCSI generic device: its drive index, block device,\n"
    "                       USB port, VID:PID, serial, logical block size, state, and\n"
    "                       whether the station may touch it (or why not)\n"
    "  --udev-rules         udev rules for the drives [Drives] Allow= lists\n"
    "  --show-block CODE    the command block a vendor command CODE (0-255, or 0x..)\n"
    "                       carries, as [VendorBlock] lays it out\n"
    "  --help | --version   this text | the program's version\n"
    "quorlink.conf is $QUORLINK_CONF, else /etc/quorlink/quorlink.conf.\n"
    "Tests point --sys DIR, --dev DIR and --mountinfo FILE at a tree of their own.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

std::optional<int> parseCode(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    int code = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || code < 0 ||
        code > 255) {
        return std::nullopt;
    }
    return code;
}

int showBlock(const quorlink::VendorLayout& layout, int code) {
    // A one-sector vendor read, chip and unit 0: where the code lands is what
    // an engineer matching a controller's layout needs to see.
    quorlink::VendorRequest request;
    request.form = quorlink::VendorForm::Read;
    request.code = static_cast<uint8_t>(code);
    request.length = 512;
    const std::string bytes = quorlink::describeVendorBlock(layout, request);
    if (bytes.empty()) {
        // Code, chip and unit always fit a field; only a one-byte length cannot.
        std::fprintf(stderr, "ufd-drives: a vendor read of 512 bytes does not fit [VendorBlock]: "
                             "DataLength is too narrow\n");
        return 1;
    }
    std::printf("%s\n", bytes.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto code = ufd::AnswerInfoOption(argc, argv, "ufd-drives", kUsage)) {
        return *code;
    }
    quorlink::sg::Roots roots;
    enum class Mode { List, Rules, Block } mode = Mode::List;
    int blockCode = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--udev-rules" && mode == Mode::List) {
            mode = Mode::Rules;
        } else if (arg == "--show-block" && mode == Mode::List && hasValue) {
            const auto code = parseCode(argv[++i]);
            if (!code) {
                return usage();
            }
            mode = Mode::Block;
            blockCode = *code;
        } else if (arg == "--sys" && hasValue) {
            roots.sys = argv[++i];
        } else if (arg == "--dev" && hasValue) {
            roots.dev = argv[++i];
        } else if (arg == "--mountinfo" && hasValue) {
            roots.mountInfo = argv[++i];
        } else {
            return usage();
        }
    }
    // An unusable file loads as the defaults, which allow nothing: so does
    // this listing, as the backend does.
    const quorlink::ConfLoad load = quorlink::loadQuorlinkConf(quorlink::quorlinkConfPath());
    if (!load.error.empty()) {
        std::fprintf(stderr, "ufd-drives: %s\n", load.error.c_str());
    }
    if (mode == Mode::Block) {
        // The default block is not what the engineer wrote: no bytes to match.
        return load.error.empty() ? showBlock(load.conf.vendorBlock, blockCode) : 1;
    }
    if (mode == Mode::Rules) {
        const auto rules = ufd::drives::udevRules(load.conf);
        if (!rules) {
            // An absent file is the commoner slip on a fresh PC: say so, not "no drive".
            std::fprintf(stderr,
                         load.conf.found ? "ufd-drives: [Drives] Allow= of %s lists no drive\n"
                                         : "ufd-drives: %s does not exist: write [Drives] "
                                           "Allow= there first\n",
                         load.conf.file.c_str());
            return 1;
        }
        std::fputs(rules->c_str(), stdout);
        return 0;
    }
    const auto rows = ufd::drives::driveRows(roots, load.conf);
    std::fputs(ufd::drives::table(rows).c_str(), stdout);
    if (rows.empty()) {
        // The commonest first-day fault on a line PC: the sg driver is not loaded.
        std::fputs("ufd-drives: no SCSI generic device; is the sg driver loaded (modprobe sg)?\n",
                   stderr);
    }
    return 0;
}
