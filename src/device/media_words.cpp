#include "device/media_words.h"

#include "device/vendor_codes.h"

namespace ufd {

namespace {

// The figure to a tenth, so that one just below its floor never reads as it.
QString Figure(double mbps) {
    return QString::number(mbps, 'f', 1) + " MB/s";
}

QString Floor(double mbps) {
    return QString::number(mbps) + " MB/s";
}

} // namespace

QString MediaSizeText(int64_t sectors) {
    const double mb = static_cast<double>(sectors) * 512 / 1e6;
    if (mb >= 1000) {
        return QString::number(mb / 1000, 'g', 3) + " GB";
    }
    return QString::number(mb, 'g', 3) + " MB";
}

QString MediaFailureWords(const DiskSlot& slot) {
    const MediaFindings& m = slot.Media;
    switch (slot.Status) {
    case kStatusFakeCapacity:
        if (m.RealSectors > 0 && m.ReportedSectors > 0) {
            return "fake: " + MediaSizeText(m.RealSectors) + " real of " +
                   MediaSizeText(m.ReportedSectors);
        }
        return "fake: the flash keeps fewer sectors than the drive reports";
    case kStatusReadBackFailed:
        return QString("%1 of %2 sectors tested do not keep their data")
            .arg(m.SectorsFailed)
            .arg(m.SectorsTested);
    case kStatusSlowWrite:
        return "writes " + Figure(m.WriteMBps) + ", floor " + Floor(m.MinWriteMBps);
    case kStatusSlowRead:
        return "reads " + Figure(m.ReadMBps) + ", floor " + Floor(m.MinReadMBps);
    case kStatusMediaIoFailed:
        return m.ResetTried ? "stopped answering; a reset did not bring it back"
                            : "media test read or write failed";
    case kStatusWriteProtected:
        return "write protected (switch on)";
    default:
        return {};
    }
}

} // namespace ufd
