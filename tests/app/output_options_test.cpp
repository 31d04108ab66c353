#include "app/output_options.h"

#include <gtest/gtest.h>

#include "app/dialogs/crop_dialog.h"
#include "app/dialogs/settings_dialogs.h"
#include "platform/string_table.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;

TEST(FormatPresets, CustomEntriesFollowTheFrameRate) {
    InputSettings in;
    OutputSettings out;
    out.width = 640;
    out.height = 360;
    in.frameRate = 1;  // 24.0 keeps the size
    applyFormat(0, in, out);
    EXPECT_EQ(out.width, 640);
    EXPECT_EQ(out.height, 360);
    EXPECT_EQ(out.videoBitRate, 1150);
    EXPECT_EQ(out.vbvBufferSize, 20);
    EXPECT_DOUBLE_EQ(out.muxRate, 1.4);
    EXPECT_EQ(out.mpegStream, 0);
    EXPECT_EQ(out.audioBitRate, 10);

    in.frameRate = 3;
    applyFormat(1, in, out);
    EXPECT_EQ(out.width, 480);
    EXPECT_EQ(out.height, 480);
    EXPECT_EQ(out.vbvBufferSize, 112);
    EXPECT_DOUBLE_EQ(out.muxRate, 5.6);
    EXPECT_EQ(out.formatIndex, 1);
}

TEST(FormatPresets, FixedPresetsSetSizeRateAndAudio) {
    InputSettings in;
    OutputSettings out;
    in.duration = 10;
    applyFormat(14, in, out);  // VCD PAL Good Quality
    EXPECT_EQ(out.mpegStream, 0);
    EXPECT_EQ(out.width, 352);
    EXPECT_EQ(out.height, 288);
    EXPECT_EQ(in.frameRate, 2);
    EXPECT_EQ(in.downSampling, 1);
    EXPECT_EQ(out.maxFrames, 250);

    // The fraction after the last whole second counts: a 60.44 s title
    // (1511 PAL frames in its IFO) is 1511 frames, not 1500.
    in.duration = 60.44;
    EXPECT_EQ(computeMaxFrames(in), 1511);
    in.frameRate = 3;  // 29.97: 1811.4 frames
    EXPECT_EQ(computeMaxFrames(in), 1811);
    in.frameRate = 2;

    applyFormat(11, in, out);  // DVD PAL Good Quality keeps the shipped 4600
    EXPECT_EQ(out.videoBitRate, 4600);

    out.audioBitRate = 3;
    out.videoBitRate = 777;
    applyFormat(kFormatAvi, in, out);
    EXPECT_EQ(out.mpegStream, 2);
    EXPECT_EQ(out.audioBitRate, 3);
    EXPECT_EQ(out.videoBitRate, 777);
}

TEST(FormatPresets, FoundByIndexOrText) {
    StringTable strings;
    RecordingHost host(&strings);
    EXPECT_EQ(findFormat(host, "13"), 13);
    EXPECT_EQ(findFormat(host, "svcd pal great quality"), 13);
    EXPECT_FALSE(findFormat(host, "15").has_value());
    EXPECT_FALSE(findFormat(host, "Betamax").has_value());
}

TEST(SplitAndZoom, LimitsAndRenderSource) {
    OutputSettings out;
    const int expected[] = {0, 730, 790, 650, 700};
    for (int i = 0; i < 5; ++i) {
        out.splitMode = i;
        EXPECT_EQ(splitLimitMB(out), expected[i]);
    }
    out.splitMode = 5;
    out.splitSizeMB = 2;
    EXPECT_EQ(splitLimitMB(out), 2);
    applyZoom(4, out);
    EXPECT_TRUE(out.renderSource);
    applyZoom(0, out);
    EXPECT_FALSE(out.renderSource);
}

TEST(CropDialog, RoundsAndRefusesInOrder) {
    StringTable strings;
    RecordingHost host(&strings);
    OutputSettings out;
    SCropDlg dlg(out, 720, 576);
    EXPECT_EQ(dlg.x2, 720);
    EXPECT_EQ(dlg.y2, 576);

    dlg.x1 = 8, dlg.x2 = 20, dlg.y1 = 0, dlg.y2 = 576;
    EXPECT_FALSE(dlg.ok(host, out));
    EXPECT_EQ(host.boxes.back().text, "(x2-x1) must be greater than 16.");

    dlg.x1 = 10, dlg.x2 = 24;  // 10 is taken as 8: a width of exactly 16
    EXPECT_TRUE(dlg.ok(host, out));
    EXPECT_EQ(dlg.x1, 8);
    EXPECT_DOUBLE_EQ(out.cropLeft, 8.0 / 720);

    dlg.x1 = 800;
    EXPECT_FALSE(dlg.ok(host, out));
    EXPECT_EQ(host.boxes.back().text, "X1 must be greater than 0 and lower than 720");

    dlg.x1 = 0, dlg.x2 = 720, dlg.y1 = 100, dlg.y2 = 50;
    EXPECT_FALSE(dlg.ok(host, out));
    EXPECT_EQ(host.boxes.back().text, "Y2 must must be greater Y1.");

    // A band above the picture: negative Y1 is lowered by 2 more.
    dlg.y1 = -40, dlg.y2 = 576;
    EXPECT_TRUE(dlg.ok(host, out));
    EXPECT_DOUBLE_EQ(out.cropTop, -42.0 / 576);
}

TEST(AdjustResolution, AsksAndAppliesOnYes) {
    StringTable strings;
    RecordingHost host(&strings);
    OutputSettings out;
    out.width = 352;
    out.height = 288;
    auto size = proposeOutputSize(AdjustMode::Selection, out, 720, 576);
    EXPECT_EQ(size.width, 720);
    EXPECT_EQ(size.height, 576);
    size = proposeOutputSize(AdjustMode::PreserveRatio, out, 720, 576);
    EXPECT_EQ(size.height, 280);  // 576 x 352 / 720 = 281.6, down to even

    host.answers = {BoxAnswer::No, BoxAnswer::Yes};
    EXPECT_FALSE(adjustOutputResolution(host, AdjustMode::Selection, out, 720, 576));
    EXPECT_EQ(out.width, 352);
    EXPECT_TRUE(adjustOutputResolution(host, AdjustMode::Selection, out, 720, 576));
    EXPECT_EQ(out.width, 720);
    EXPECT_NE(host.boxes.back().text.find("(720,576)"), std::string::npos);
}

TEST(LameDialog, MapsListPositions) {
    ApplicationSettings app;
    app.mp3BitRate = 150;
    app.mp3Quality = 5;
    CLameDlg dlg(app);
    EXPECT_EQ(CLameDlg::kBitRates[dlg.bitRateIndex], 160);
    EXPECT_EQ(dlg.qualityIndex, 4);
    dlg.qualityIndex = 0;
    dlg.ok(app);
    EXPECT_EQ(app.mp3BitRate, 160);
    EXPECT_EQ(app.mp3Quality, 1);
}

TEST(PropertiesDialog, SummaryGivesTheAspectAndTheRateOfTheSoundWritten) {
    InputSettings in;
    in.sourceWidth = 720;
    in.sourceHeight = 576;
    in.sourceFrameRate = 25.0;
    in.downSampling = 4;  // 48 kHz, no conversion
    in.sourceAspect = 3;  // 16:9
    CfTabPropertiesDlg dlg(in, OutputSettings{});
    EXPECT_EQ(dlg.summary().width, 720);
    EXPECT_EQ(dlg.summary().aspect, "16:9");
    EXPECT_EQ(dlg.summary().sampleRate, 48000);
    for (int ds : {0, 1, 2, 3}) {
        dlg.input.downSampling = ds;
        EXPECT_EQ(dlg.summary().sampleRate, 44100) << ds;
    }
}

TEST(GlobalDialog, BufferSizeFloorAndRamWarning) {
    StringTable strings;
    RecordingHost host(&strings);
    InputSettings in;
    CfGlobalDlg dlg(in);
    dlg.values.saveBufferSize = 0;
    dlg.ok(host, in);
    EXPECT_EQ(in.saveBufferSize, 1);
    EXPECT_TRUE(host.boxes.empty());
    dlg.values.saveBufferSize = 40;
    dlg.ok(host, in);
    EXPECT_EQ(in.saveBufferSize, 40);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
}

}  // namespace
}  // namespace zembra
