#include "station/dependencies.h"

#include <QCoreApplication>

#include "config/product_config.h"
#include "config/wait_seconds.h"
#include "device/chip_scan.h"
#include "device/identity.h"
#include "device/low_level_format.h"
#include "device/write_protect.h"
#include "format/volume.h"
#include "monitor/instance_lock.h"
#include "platform/clock.h"
#include "platform/start_hidden.h"
#include "station/notice_receiver.h"

namespace ufd {

DeviceProcedures RealDeviceProcedures() {
    DeviceProcedures d;
    d.ScanChips = [](StationContext& ctx, int16_t slot) { ScanChips(ctx, slot); };
    d.LowLevelFormat = [](StationContext& ctx, int16_t slot) { return LowLevelFormat(ctx, slot); };
    d.WriteIdentity = [](StationContext& ctx, int16_t slot, int16_t flag) {
        return WriteIdentity(ctx, slot, flag);
    };
    d.CheckIdentity = [](StationContext& ctx, int16_t slot) { return CheckIdentity(ctx, slot); };
    d.CheckWriteProtect = [](StationContext& ctx, int16_t slot) {
        return CheckWriteProtect(ctx, slot);
    };
    return d;
}

StationDependencies StationDependencies::Real() {
    StationDependencies d;
    d.readProductConfig = [](ProductConfig& config) { return ReadProductConfig(config); };
    d.buildSectorTemplates = [](StationContext& ctx) { BuildSectorTemplates(ctx); };
    d.startMonitor = [](const QString& program) {
        // The monitor ends itself when this process is gone.
        qputenv("UFD_STATION_PID", QByteArray::number(QCoreApplication::applicationPid()));
        return StartHidden(program);
    };
    d.wait = [](float seconds) { WaitSeconds(seconds); };
    d.pumpEvents = [] { DefaultEventPump().ProcessPending(); };
    d.device = RealDeviceProcedures();
    d.noticeChannel = StationNoticeChannel();
    d.monitorAlive = [](const QString& channel) { return ChannelMonitor(channel); };
    d.monitorBeat = [](const QString& channel) { return ChannelMonitorBeat(channel); };
    return d;
}

} // namespace ufd
