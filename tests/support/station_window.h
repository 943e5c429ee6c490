// The station's window on its real dependencies (offscreen in tests), as an
// operator starts it: it starts its own Vasket and rediscovers on its notices.
// Or, for what needs only its widgets, loaded on a recording transport.
#pragma once

#include "monitor/instance_lock.h"
#include "platform/message_box.h"
#include "station/station_form.h"
#include "support/recording_transport.h"
#include "support/test_common.h"

#include <QTest>
#include <QUuid>

namespace ufd::test {

inline int16_t ReadSampleProduct(ProductConfig& p) {
    return ReadProductConfig(p, UFD_SOURCE_DIR "/examples/Product.ini");
}

// A box would wait for a click no test gives: it fails the test instead.
struct BoxesFail {
    BoxesFail() {
        SetMessageBoxHandler([](const MessageBoxRequest& r) {
            ADD_FAILURE() << "box: " << r.text.toStdString();
            return kAnswerOk;
        });
    }
    ~BoxesFail() { SetMessageBoxHandler({}); }
};

// The window with the sample product on a recording transport, loaded; no
// monitor is started.
struct RecordedWindow : BoxesFail {
    RecordedWindow() {
        ctx.replies = transport.files;
        StationDependencies d;
        d.startMonitor = [](const QString&) { return 33; };
        d.readProductConfig = ReadSampleProduct;
        frm = std::make_unique<TestFrm>(ctx, d);
        loaded = frm->Form_Load().ok;
    }
    RecordingTransport transport;
    StationContext ctx{transport};
    std::unique_ptr<TestFrm> frm;
    bool loaded = false;
};

struct StationWindow : BoxesFail {
    // Before any StationDependencies are made: they take the channel then.
    StationWindow() { qputenv("UFD_NOTICE_CHANNEL", channel.toUtf8()); }
    // Opens the window on d with the sample product and waits until its
    // Vasket watches for it; false when either does not happen.
    bool Open(StationDependencies d) {
        d.readProductConfig = ReadSampleProduct;
        frm = std::make_unique<TestFrm>(ctx, d);
        // Shown once loaded. Vasket records its station once it holds the
        // channel's monitor lock; it reads the drives right after, and drives
        // there before that reading are not news to it.
        if (!frm->Form_Load().ok) {
            return false;
        }
        frm->show();
        const bool watched =
            QTest::qWaitFor([this] { return MonitorStation() == ::getpid(); }, 10000);
        QTest::qWait(watched ? 300 : 0);
        return watched;
    }
    std::optional<pid_t> MonitorStation() const {
        return ReadOwnerStation(InstanceLockPath(channel));
    }
    bool WaitForDrives(int count, int ms = 10000) {
        return QTest::qWaitFor([&] { return ctx.slots.DiskCount == count; }, ms);
    }

    const QString channel = "ufd-window-" + QUuid::createUuid().toString(QUuid::Id128);
    QuorlinkTransport transport;
    StationContext ctx{transport};
    std::unique_ptr<TestFrm> frm;
};

} // namespace ufd::test
