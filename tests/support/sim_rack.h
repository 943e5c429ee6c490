// A shipped rack behind libquorlink, with a trace, and ufd-rack as the hand
// that plugs and unplugs. The library picks its backend once per process, so
// there is one rack per process; Reset() gives the next test fresh drives and
// an empty trace.
#pragma once

#include "support/test_common.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

namespace ufd::test {

struct TracedCall {
    int drive = -1;
    std::vector<qint64> args;
};

class SimRack {
public:
    // The rack of this process, examples/rack/<example>, on first use.
    static SimRack& Shared(const char* example) {
        static SimRack rack(example);
        return rack;
    }

    void Reset() {
        QDir(Path("state")).removeRecursively();
        ClearTrace();
    }

    // Runs ufd-rack with args; its output.
    QString Tool(const QStringList& args) const {
        QProcess p;
        p.start(QStringLiteral(UFD_RACK_BIN), args);
        EXPECT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0)
            << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    // The library's calls of one function since the last Reset or ClearTrace.
    std::vector<TracedCall> Calls(const QString& fn) const {
        std::vector<TracedCall> out;
        std::ifstream in(Path("trace.jsonl").toStdString());
        for (std::string line; std::getline(in, line);) {
            const auto o = nlohmann::json::parse(line, nullptr, false); // a line being written
            if (o.is_object() && o.value("fn", "") == "fnQuorbus_" + fn.toStdString()) {
                out.push_back({o.value("drive", -1), o.value("args", std::vector<qint64>{})});
            }
        }
        return out;
    }
    void ClearTrace() const { QFile(Path("trace.jsonl")).resize(0); }

    QString Path(const QString& name) const { return dir_.filePath(name); }

private:
    // The rack file is only read: the drives' state, the trace and the replies live here.
    explicit SimRack(const char* example) {
        qputenv("QUORLINK_RACK", UFD_SOURCE_DIR "/examples/rack/" + QByteArray(example));
        qputenv("QUORLINK_TRACE", QFile::encodeName(Path("trace.jsonl")));
        qputenv("QUORLINK_STATE_DIR", QFile::encodeName(Path("state")));
        qputenv("QUORLINK_REPLY_DIR", QFile::encodeName(Path("reply")));
    }

    QTemporaryDir dir_;
};

} // namespace ufd::test
