// The MES message of a run, judged as the MES reads it: which item carries
// the failure, what stays null when the station did not know it, which run an
// export takes; and a drop folder that cannot take the file.
#include "support/test_common.h"

#include "results/cfx_drop_folder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace ufd {
namespace {

DriveRecord Drive(const QString& run, int slot, std::array<std::optional<int>, 4> items,
                  int status) {
    DriveRecord r;
    r.RunId = run;
    r.Slot = slot;
    r.Status = status;
    r.Passed = status == 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i]) {
            r.Items[i] = ItemResult{"V", {}, *items[i], 1};
        }
    }
    return r;
}

// "Name:Result[*]" per test, * where the symptom sits.
QString Verdicts(const QJsonObject& unit) {
    QStringList out;
    for (const QJsonValue t : unit["Tests"].toArray()) {
        out << t["TestName"].toString() + ':' + t["Result"].toString() +
                   (t["SymptomsFound"].toArray().isEmpty() ? "" : "*");
    }
    return out.join(' ');
}

TEST(CfxMessage, TheFailureSitsOnTheItemThatCausedIt) {
    const std::optional<int> no;
    const struct {
        const char* what;
        DriveRecord drive;
        const char* want;
    } cases[] = {
        {"passed", Drive("r", 1, {0, 0, 0, no}, 0),
         "Format:Passed Manufacture:Passed CheckConfig:Passed"},
        {"format failed, its code carried on", Drive("r", 1, {0x10, 0x10, 0x10, no}, 0x10),
         "Format:Failed* Manufacture:Passed CheckConfig:Passed"},
        {"check config failed", Drive("r", 1, {0, 0, 0xF4, no}, 0xF4),
         "Format:Passed Manufacture:Passed CheckConfig:Failed*"},
        {"a second code after the first", Drive("r", 1, {0x10, 0xF0, no, no}, 0xF0),
         "Format:Failed* Manufacture:Failed"},
        {"failed with every item at 0", Drive("r", 1, {no, no, no, 0}, 0xF6), "CheckWP:Failed*"},
    };
    for (const auto& c : cases) {
        const QJsonObject unit = CfxUnitsTested({c.drive}, {})["MessageBody"]
                                     .toObject()["TestedUnits"]
                                     .toArray()[0]
                                     .toObject();
        EXPECT_EQ(Verdicts(unit).toStdString(), c.want) << c.what;
    }
}

TEST(CfxMessage, WhatTheStationDidNotKnowIsNullAndAnExportTakesOneRunInSlotOrder) {
    DriveRecord a = Drive("run-a", 2, {0, {}, {}, {}}, 0);
    a.Serial = "S2";
    const DriveRecord other = Drive("run-b", 1, {0, {}, {}, {}}, 0);
    DriveRecord b = Drive("run-a", 1, {0, {}, {}, {}}, 0);
    b.DriveIndex = 7;
    const auto bytes = CfxExportOfRun({a, other, b}, "run-a", {});
    ASSERT_TRUE(bytes);
    const QJsonObject m = QJsonDocument::fromJson(*bytes).object();
    const QJsonObject body = m["MessageBody"].toObject();
    EXPECT_TRUE(body["Tester"].isNull() && body["Lot"].isNull());
    const QJsonArray units = body["TestedUnits"].toArray();
    ASSERT_EQ(units.size(), 2);
    EXPECT_EQ(units[0]["UnitPositionNumber"].toInt(), 7);
    EXPECT_TRUE(units[1]["UnitPositionNumber"].isNull());
    EXPECT_EQ(units[1]["UnitIdentifier"].toString(), "S2");
    EXPECT_FALSE(CfxExportOfRun({a, other}, "run-c", {}));
    // The same run, the same bytes: a MES can tell a repeat by its ids.
    EXPECT_EQ(CfxExportOfRun({b, a}, "run-a", {}), bytes);
}

TEST(CfxDropFolder, AFolderThatCannotTakeTheFileLeavesNothingBehind) {
    QTemporaryDir dir;
    const std::vector<DriveRecord> run = {Drive("../run 1", 1, {0, {}, {}, {}}, 0)};
    const DropOutcome ok = WriteCfxDropFile(dir.path(), run, {});
    EXPECT_FALSE(ok.error) << ok.error->toStdString();
    EXPECT_EQ(ok.path, dir.filePath("___run_1.json")); // the run id stays in the folder
    // A file where the folder should be; a folder of someone else's.
    std::ofstream(dir.filePath("file").toStdString());
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    ::chmod(dir.filePath("locked").toLocal8Bit(), 0500);
    const bool root = ::geteuid() == 0; // root writes a read-only folder all the same
    for (const QString name : {"file", "absent", "locked"}) {
        if (name == "locked" && root) {
            continue;
        }
        const DropOutcome out = WriteCfxDropFile(dir.filePath(name), run, {});
        ASSERT_TRUE(out.error) << name.toStdString();
        EXPECT_TRUE(out.error->startsWith("the MES file " + dir.filePath(name) + "/___run_1.json"))
            << out.error->toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"___run_1.json", "file", "locked"}));
    EXPECT_TRUE(WriteDropFile("", run, {}).isEmpty());
}

} // namespace
} // namespace ufd
