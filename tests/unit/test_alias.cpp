// The alias names file: look-ups by kind and id, names switched off or
// empty, and files that cannot serve as a name list (deleted, never fatal).
#include "support/shell_fixture.h"
#include "support/sim_board_test.h"

#include "core/alias.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/shell_input.h"

#include <algorithm>

namespace {

const char kNames[] = R"({
  "filename": "/data/configs/alias.json",
  "namelist": {
    "source": [
      {"id": "0", "valid": "on", "name": "Camera"},
      {"id": 2, "valid": "on", "name": "Stage PC"},
      {"id": "2", "valid": "on", "name": "Second"},
      {"id": "3", "valid": "off", "name": "Hidden"},
      {"id": "4", "valid": "yes", "name": ""}
    ],
    "usermode": [ {"id": "1", "valid": "", "name": "Evening"} ],
    "win": [ {"id": "0", "valid": "on", "name": "\u7a97\u53e3"} ]
  }
})";

class AliasFile : public SimBoardTest {
protected:
    std::string file() const { return hostPath("/data/configs/alias.json"); }
    void put(const std::string& text) { writeFile(file(), text); }
    int removals() const
    {
        const auto cmds = sim::Board::instance().shell().commands();
        return static_cast<int>(std::count(cmds.begin(), cmds.end(), "rm -rf /data/configs/alias.json"));
    }
};

TEST_F(AliasFile, NamesByKindAndId)
{
    put(kNames);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.name, "Camera");
    EXPECT_EQ(a.valid, "on");
    // A number and a string of digits match alike; the first entry wins.
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 1);
    EXPECT_EQ(a.name, "Stage PC");
    EXPECT_EQ(a.id, 2);
    // Any text other than "off" leaves the name on.
    EXPECT_EQ(get_json_alias_para(&a, "usermode", 1), 1);
    EXPECT_EQ(a.name, "Evening");
    EXPECT_EQ(get_json_alias_para(&a, "win", 0), 1);
    EXPECT_EQ(a.name, "\xe7\xaa\x97\xe5\x8f\xa3");
    EXPECT_TRUE(exists(file()));
    EXPECT_EQ(removals(), 0);
}

TEST_F(AliasFile, NamesOffEmptyOrAbsentGiveNothing)
{
    put(kNames);
    ALIAS_PARA a;
    // Switched off: 0, but the record is filled.
    EXPECT_EQ(get_json_alias_para(&a, "source", 3), 0);
    EXPECT_EQ(a.name, "Hidden");
    EXPECT_EQ(a.valid, "off");
    EXPECT_EQ(get_json_alias_para(&a, "source", 4), 0);
    EXPECT_EQ(a.valid, "yes");
    EXPECT_EQ(a.name, "");
    // No entry for the id, or a kind the file does not hold: record untouched.
    ALIAS_PARA b;
    b.name = "keep";
    EXPECT_EQ(get_json_alias_para(&b, "source", 5), 0);
    EXPECT_EQ(get_json_alias_para(&b, "crop", 0), 0);
    EXPECT_EQ(b.name, "keep");
    EXPECT_EQ(get_json_alias_para(nullptr, "source", 0), 1);
    EXPECT_TRUE(exists(file()));
}

TEST_F(AliasFile, MissingFileGivesNothing)
{
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_EQ(removals(), 0);
}

TEST_F(AliasFile, UnusableFilesAreDeleted)
{
    const std::string bad[] = {
        "{ \"namelist\": { \"source\": [ ",                                        // does not parse
        R"({"namelist": )" + std::string(200000, '['),                           // nested past any stack
        "",                                                                      // empty
        R"({"filename": "x"})",                                                  // no name list
        R"({"namelist": {"source": [ {"valid": "on", "name": "A"} ]}})",         // no id
        R"({"namelist": {"source": [ {"id": "zero", "valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": "99999999999", "valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": {"n": 0}, "valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": "0", "name": "A"} ]}})",             // no valid
        R"({"namelist": {"source": [ {"id": "0", "valid": "on"} ]}})",           // no name
        R"({"namelist": {"source": [ {"id": "0", "valid": "on", "name": ["A"]} ]}})",
        R"({"namelist": {"source": [ "0" ]}})",
        R"([1, 2, 3])",
    };
    int n = 0;
    for (const std::string& text : bad) {
        SCOPED_TRACE(text.substr(0, 80));
        put(text);
        ALIAS_PARA a;
        a.name = "keep";
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
        EXPECT_EQ(a.name, "keep");
        EXPECT_FALSE(exists(file()));
        EXPECT_EQ(removals(), ++n);
        // Once deleted, every question gives 0 without another deletion.
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
        EXPECT_EQ(removals(), n);
    }
}

TEST_F(AliasFile, EntriesBeforeTheMatchAreCheckedOnly)
{
    // Entries after the match are not examined: a broken one there keeps
    // the file.
    put(R"({"namelist": {"source": [ {"id": "1", "valid": "on", "name": "One"}, {"name": "no id"} ]}})");
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 1), 1);
    EXPECT_TRUE(exists(file()));
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 0);
    EXPECT_FALSE(exists(file()));
}

class AliasIdleScreen : public ShellTest {};

TEST_F(AliasIdleScreen, InputTilesShowTheNamesGiven)
{
    writeFile(hostPath("/data/configs/alias.json"),
              R"({"namelist": {"source": [ {"id": "1", "valid": "on", "name": "Lobby camera"},
                                           {"id": "2", "valid": "off", "name": "Unused"} ]}})");
    LockWindow w;
    EXPECT_EQ(w.source_name(1), "Lobby camera");
    EXPECT_EQ(w.source_name(2), input_default_name(2));
    EXPECT_EQ(w.source_name(0), input_default_name(0));
}

// The sample list written where asked, and read back entry by entry.
TEST_F(AliasFile, ASampleListIsWrittenAndPrinted)
{
    ASSERT_EQ(Json_create("/data/configs/sample.json"), 0);
    const std::string text = readFile(hostPath("/data/configs/sample.json"));
    EXPECT_NE(text.find("\"filename\""), std::string::npos) << text;
    EXPECT_NE(text.find("sample.json"), std::string::npos) << text;
    testing::internal::CaptureStdout();
    Json_analysis("/data/configs/sample.json");
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* line : {"\n json source : id: 3    valid: off    name: HDMI2",
                             "\n json usermode : id: 1    valid: off    name: User Mode 1",
                             "\n json window : id: 2    valid: off    name: Window 2",
                             "\n json crop : id: 3    valid: off    name: Crop 3", "\n read Json over !!!"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    testing::internal::CaptureStdout();
    Json_analysis("/data/configs/none.json");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\n open filed !!!"), std::string::npos);
    EXPECT_EQ(removals(), 0);
}

} // namespace

