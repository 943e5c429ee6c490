// A station of its own for the end-to-end runs through the real programs:
// ufd-station, Vasket and libquorlink copied beside the sample Product.ini in
// a private directory, a rack file there, and the environment that points
// every program at them.
#pragma once

#include "support/test_common.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUuid>
#include <nlohmann/json.hpp>

#include <span>

namespace ufd {

class RackStation {
public:
    using J = nlohmann::json;

    // rack: the rack file's whole contents.
    explicit RackStation(const J& rack) {
        QDir().mkpath(Path("bin"));
        for (const QString name : {"ufd-station", "Vasket", "libquorlink.so"}) {
            EXPECT_TRUE(QFile::copy(UFD_BIN_DIR "/" + name, Path("bin/" + name)));
        }
        EXPECT_TRUE(QFile::copy(UFD_SOURCE_DIR "/examples/Product.ini", Path("bin/Product.ini")));
        std::ofstream(Path("rack.json").toStdString()) << rack.dump();
    }

    // Drives 1, 2, ... of the demo rack's drive 1 (64 MiB), each changed by
    // its entry of kinds and given the serial prefix and its index.
    static J Drives(std::span<const J> kinds, const std::string& prefix) {
        const J base = {
            {"kind", "usb"},         {"capacity", 131072},          {"info", {12, 0x29}},
            {"chips", {0x75, 0x75}}, {"units94", {{"default", 1}}}, {"units95", {{"default", 1}}}};
        J drives = J::array();
        int index = 0;
        for (const J& kind : kinds) {
            J d = base;
            d.update(kind);
            ++index;
            d.update({{"index", index}, {"serial", prefix + std::to_string(index)}});
            drives.push_back(d);
        }
        return drives;
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    // The rack, its state and replies, station.conf, the records and a
    // notice channel of this station's own; no trace unless the caller adds one.
    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORLINK_RACK", Path("rack.json"));
        env.insert("QUORLINK_STATE_DIR", Path("state"));
        env.insert("QUORLINK_REPLY_DIR", Path("reply"));
        env.remove("QUORLINK_TRACE");
        env.insert("UFD_STATION_CONF", Path("station.conf"));
        env.insert("XDG_DATA_HOME", Path("data"));
        env.insert("UFD_NOTICE_CHANNEL", "ufd-e2e-" + QUuid::createUuid().toString(QUuid::Id128));
        return env;
    }

    struct Ran {
        int code;
        QString out, err;
    };
    // A program (this station's copy, or a built tool) in this station's
    // environment, with extra on top.
    Ran Start(const QString& program, const QStringList& args,
              const QProcessEnvironment& extra = {}) const {
        QProcessEnvironment env = Env();
        env.insert(extra);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(180000)) << program.toStdString() << " did not finish";
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private:
    QTemporaryDir dir_;
};

} // namespace ufd
