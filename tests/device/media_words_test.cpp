// The words beside a media test's code: the real size of a fake, the figure
// against its floor, a protected switch, a reset that did not help.
#include "device/media_words.h"
#include "device/vendor_codes.h"

#include <gtest/gtest.h>

namespace ufd {
namespace {

TEST(MediaWords, SayWhatWasFound) {
    struct Case {
        int16_t status;
        MediaFindings media;
        const char* words;
    };
    const MediaFindings fake{.RealSectors = 524288, .ReportedSectors = 4194304}; // 268 MB, 2.15 GB
    const MediaFindings slow{
        .WriteMBps = 8.24, .ReadMBps = 19.6, .MinWriteMBps = 10, .MinReadMBps = 20};
    const Case cases[] = {
        {kStatusFakeCapacity, fake, "fake: 268 MB real of 2.15 GB"},
        {kStatusSlowWrite, slow, "writes 8.2 MB/s, floor 10 MB/s"},
        {kStatusSlowRead, slow, "reads 19.6 MB/s, floor 20 MB/s"},
        {kStatusWriteProtected, {}, "write protected (switch on)"},
        {kStatusMediaIoFailed,
         {.ResetTried = true},
         "stopped answering; a reset did not bring it back"},
        {kStatusMediaIoFailed, {}, "media test read or write failed"},
        {kStatusReadBackFailed,
         {.SectorsTested = 4000, .SectorsFailed = 2},
         "2 of 4000 sectors tested do not keep their data"},
        {kStatusFakeCapacity, {}, "fake: the flash keeps fewer sectors than the drive reports"},
        {0, fake, ""},
        {kVendorFinish, slow, ""},
    };
    for (const Case& c : cases) {
        DiskSlot slot;
        slot.Status = c.status;
        slot.Media = c.media;
        EXPECT_EQ(MediaFailureWords(slot).toStdString(), c.words) << c.status;
    }
}

} // namespace
} // namespace ufd
