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
    out.Width = 640;
    out.Height = 360;
    in.FrameRate = 1;  // 24.0 keeps the size
    applyFormat(0, in, out);
    EXPECT_EQ(out.Width, 640);
    EXPECT_EQ(out.Height, 360);
    EXPECT_EQ(out.VideoBitRate, 1150);
    EXPECT_EQ(out.VBV, 20);
    EXPECT_DOUBLE_EQ(out.MuxRate, 1.4);
    EXPECT_EQ(out.MPEGStream, 0);
    EXPECT_EQ(out.AudioBitRate, 10);

    in.FrameRate = 3;
    applyFormat(1, in, out);
    EXPECT_EQ(out.Width, 480);
    EXPECT_EQ(out.Height, 480);
    EXPECT_EQ(out.VBV, 112);
    EXPECT_DOUBLE_EQ(out.MuxRate, 5.6);
    EXPECT_EQ(out.StreamTypeSelected, 1);
}

TEST(FormatPresets, FixedPresetsSetSizeRateAndAudio) {
    InputSettings in;
    OutputSettings out;
    in.Duration = 10;
    applyFormat(14, in, out);  // VCD PAL Good Quality
    EXPECT_EQ(out.MPEGStream, 0);
    EXPECT_EQ(out.Width, 352);
    EXPECT_EQ(out.Height, 288);
    EXPECT_EQ(in.FrameRate, 2);
    EXPECT_EQ(in.DownSampling, 1);
    EXPECT_EQ(out.MaxFrames, 250);

    // The fraction after the last whole second counts: a 60.44 s title
    // (1511 PAL frames in its IFO) is 1511 frames, not 1500.
    in.Duration = 60.44;
    EXPECT_EQ(computeMaxFrames(in), 1511);
    in.FrameRate = 3;  // 29.97: 1811.4 frames
    EXPECT_EQ(computeMaxFrames(in), 1811);
    in.FrameRate = 2;

    applyFormat(11, in, out);  // DVD PAL Good Quality keeps the shipped 4600
    EXPECT_EQ(out.VideoBitRate, 4600);

    out.AudioBitRate = 3;
    out.VideoBitRate = 777;
    applyFormat(kFormatAvi, in, out);
    EXPECT_EQ(out.MPEGStream, 2);
    EXPECT_EQ(out.AudioBitRate, 3);
    EXPECT_EQ(out.VideoBitRate, 777);
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
        out.SplitMode = i;
        EXPECT_EQ(splitLimitMB(out), expected[i]);
    }
    out.SplitMode = 5;
    out.Volume = 2;
    EXPECT_EQ(splitLimitMB(out), 2);
    applyZoom(4, out);
    EXPECT_EQ(out.RenderSource, 1);
    applyZoom(0, out);
    EXPECT_EQ(out.RenderSource, 0);
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
    EXPECT_DOUBLE_EQ(out.X1, 8.0 / 720);

    dlg.x1 = 800;
    EXPECT_FALSE(dlg.ok(host, out));
    EXPECT_EQ(host.boxes.back().text, "X1 must be greater than 0 and lower than 720");

    dlg.x1 = 0, dlg.x2 = 720, dlg.y1 = 100, dlg.y2 = 50;
    EXPECT_FALSE(dlg.ok(host, out));
    EXPECT_EQ(host.boxes.back().text, "Y2 must must be greater Y1.");

    // A band above the picture: negative Y1 is lowered by 2 more.
    dlg.y1 = -40, dlg.y2 = 576;
    EXPECT_TRUE(dlg.ok(host, out));
    EXPECT_DOUBLE_EQ(out.Y1, -42.0 / 576);
}

TEST(AdjustResolution, AsksAndAppliesOnYes) {
    StringTable strings;
    RecordingHost host(&strings);
    OutputSettings out;
    out.Width = 352;
    out.Height = 288;
    auto size = proposeOutputSize(AdjustMode::Selection, out, 720, 576);
    EXPECT_EQ(size.width, 720);
    EXPECT_EQ(size.height, 576);
    size = proposeOutputSize(AdjustMode::PreserveRatio, out, 720, 576);
    EXPECT_EQ(size.height, 280);  // 576 x 352 / 720 = 281.6, down to even

    host.answers = {BoxAnswer::No, BoxAnswer::Yes};
    EXPECT_FALSE(adjustOutputResolution(host, AdjustMode::Selection, out, 720, 576));
    EXPECT_EQ(out.Width, 352);
    EXPECT_TRUE(adjustOutputResolution(host, AdjustMode::Selection, out, 720, 576));
    EXPECT_EQ(out.Width, 720);
    EXPECT_NE(host.boxes.back().text.find("(720,576)"), std::string::npos);
}

TEST(LameDialog, MapsListPositions) {
    ApplicationSettings app;
    app.BitRate = 150;
    app.Quality = 5;
    CLameDlg dlg(app);
    EXPECT_EQ(CLameDlg::kBitRates[dlg.bitRateIndex], 160);
    EXPECT_EQ(dlg.qualityIndex, 4);
    dlg.qualityIndex = 0;
    dlg.ok(app);
    EXPECT_EQ(app.BitRate, 160);
    EXPECT_EQ(app.Quality, 1);
}

TEST(PropertiesDialog, SummaryGivesTheAspectAndTheRateOfTheSoundWritten) {
    InputSettings in;
    in.SourceWidth = 720;
    in.SourceHeight = 576;
    in.SourceFrameRate = 25.0;
    in.DownSampling = 4;  // 48 kHz, no conversion
    in.SourceAspect = 3;  // 16:9
    CfTabPropertiesDlg dlg(in, OutputSettings{});
    EXPECT_EQ(dlg.summary().width, 720);
    EXPECT_EQ(dlg.summary().aspect, "16:9");
    EXPECT_EQ(dlg.summary().sampleRate, 48000);
    for (int ds : {0, 1, 2, 3}) {
        dlg.input.DownSampling = ds;
        EXPECT_EQ(dlg.summary().sampleRate, 44100) << ds;
    }
}

TEST(GlobalDialog, BufferSizeFloorAndRamWarning) {
    StringTable strings;
    RecordingHost host(&strings);
    InputSettings in;
    CfGlobalDlg dlg(in);
    dlg.values.SaveBufferSize = 0;
    dlg.ok(host, in);
    EXPECT_EQ(in.SaveBufferSize, 1);
    EXPECT_TRUE(host.boxes.empty());
    dlg.values.SaveBufferSize = 40;
    dlg.ok(host, in);
    EXPECT_EQ(in.SaveBufferSize, 40);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
}

}  // namespace
}  // namespace zembra
