#include "platform/ui_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/console_host.h"
#include "platform/string_table.h"
#include "support/quiet_host.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

TEST(UiHost, UnknownKeyFallsBackToTheKeyItself) {
    testing::QuietHost host;
    EXPECT_EQ(host.text("STR_NO_SUCH_KEY"), "STR_NO_SUCH_KEY");
}

TEST(UiHost, ShorthandsShowTheTextOfTheKeyInTheCurrentLanguage) {
    StringTable strings;
    testing::RecordingHost host(&strings);
    host.error("STR_ERROR_52");
    strings.setText("STR_ERROR_19", "Halt ?");
    host.answers.push_back(BoxAnswer::Yes);
    EXPECT_TRUE(host.ask("STR_ERROR_19"));
    EXPECT_FALSE(host.ask("STR_ERROR_19"));  // script used up: No
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "Unable to parse as an IFO-File.");
    EXPECT_EQ(host.boxes[1].text, "Halt ?");
    testing::QuietHost bare;
    EXPECT_EQ(bare.text("STR_ERROR_28"), "Stop encoder before exiting.");
}

TEST(UiHost, ShowsWhatAStatusHasToSayInTheBoxOfItsKind) {
    StringTable strings;
    strings.setText("STR_ERROR_19", "Halt ?");
    testing::RecordingHost host(&strings);
    // Done, and failed with the message already given: no box.
    EXPECT_EQ(host.show(Status{}), BoxAnswer::Ok);
    EXPECT_EQ(host.show(Status::failed()), BoxAnswer::Ok);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(Status::failed().ok());
    EXPECT_FALSE(Status::warning("STR_ERROR_28").ok());

    host.show(Status::error("STR_ERROR_52", " 7."));
    host.notice(Status::warning("STR_ERROR_28").leadBy("a.mpg "));
    host.answers.push_back(BoxAnswer::Yes);
    EXPECT_TRUE(host.confirm(Status::question("STR_ERROR_19")));
    EXPECT_FALSE(host.confirm(Status::question("STR_ERROR_19")));
    // A library's own words, with no key.
    host.notice(Status::plain(BoxKind::Error, "fio_open Fail!"));
    ASSERT_EQ(host.boxes.size(), 5u);
    EXPECT_EQ(host.boxes[4].text, "fio_open Fail!");
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "Unable to parse as an IFO-File. 7.");
    EXPECT_EQ(host.boxes[1].kind, BoxKind::Warning);
    EXPECT_EQ(host.boxes[1].text, "a.mpg Stop encoder before exiting.");
    EXPECT_EQ(host.boxes[2].kind, BoxKind::Question);
    EXPECT_EQ(host.boxes[3].text, "Halt ?");
}

TEST(ConsoleHost, QuestionPolicyFromArguments) {
    std::vector<std::string> args{"rip", "--yes", "x", "--no", "--yes"};
    EXPECT_EQ(takeQuestionPolicy(args), QuestionPolicy::AlwaysYes);
    EXPECT_EQ(args, (std::vector<std::string>{"rip", "x"}));
    args = {"a"};
    EXPECT_EQ(takeQuestionPolicy(args), QuestionPolicy::Ask);
    // Without a terminal a question gets the safe answer.
    ConsoleHost console(nullptr, QuestionPolicy::Ask);
    console.setQuiet(true);
    if (!isatty(0)) {
        EXPECT_EQ(console.messageBox(BoxKind::Question, "Continue ?"), BoxAnswer::No);
    }
    ConsoleHost yes(nullptr, QuestionPolicy::AlwaysYes);
    EXPECT_EQ(yes.messageBox(BoxKind::Question, "Continue ?"), BoxAnswer::Yes);
}

TEST(ConsoleHost, BoxesGoToStderrWithTheirTitleAndPlainLineBreaks) {
    StringTable strings;
    strings.setText("STR_MAIN_DLG_ErrorTitle", "Fehler");
    ConsoleHost console(&strings, QuestionPolicy::AlwaysNo);
    console.setQuiet(true);
    ::testing::internal::CaptureStderr();
    console.error("STR_ERROR_9");
    console.warning("STR_ERROR_28");
    EXPECT_FALSE(console.ask("STR_ERROR_19"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Fehler: Invalid output Dimension. \nCannot initialise resize filter.\n"
              "Warning: Stop encoder before exiting.\n"
              "Stop process ? [no]\n");
}

}  // namespace
}  // namespace zembra
