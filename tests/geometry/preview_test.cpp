// Preview: which picture is drawn when, the source view's rules and label.

#include "geometry/preview.h"

#include <gtest/gtest.h>

namespace zembra {
namespace {

TEST(Preview, PictureChoiceAndViews) {
    PreviewState s;
    EXPECT_EQ(choosePreviewPicture(s), PreviewPicture::None);  // no decoder
    s.decoderOpen = true;
    EXPECT_EQ(choosePreviewPicture(s), PreviewPicture::QueuedFrame);
    s.plainRedraw = true;
    EXPECT_EQ(choosePreviewPicture(s), PreviewPicture::Snapshot);
    s.audioOnly = true;
    EXPECT_EQ(choosePreviewPicture(s), PreviewPicture::None);
    s.audioOnly = false;
    s.ripping = true;
    s.render = 25;
    int drawn = 0;
    for (s.ripFrame = 0; s.ripFrame < 100; ++s.ripFrame)
        drawn += choosePreviewPicture(s) == PreviewPicture::RipFrame;
    EXPECT_EQ(drawn, 4);
    s.render = 0;  // a zero setting draws every frame rather than dividing by zero
    EXPECT_EQ(choosePreviewPicture(s), PreviewPicture::RipFrame);

    bool flag = true;
    EXPECT_TRUE(useSourceView(4, flag));
    EXPECT_FALSE(useSourceView(0, flag));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(useSourceView(4, flag));

    EXPECT_EQ(cropLabel(8, 0, 712, 576), "(  8,  0) (712,576) [704,576] ");
    const PreviewRect full = sourceViewRect(400, 300, true, 0.5625);
    EXPECT_EQ(full.left, 2);
    EXPECT_EQ(full.bottom, 298);
    const PreviewRect wide = sourceViewRect(400, 300, false, 0.5625);
    EXPECT_EQ(wide.bottom - wide.top, int(396 * 0.5625));
    EXPECT_EQ(wide.top, (300 - int(396 * 0.5625)) / 2);
}

TEST(Preview, DestinationGoesThroughTheGeometry) {
    std::vector<uint8_t> y(720 * 576, 200), c(360 * 288, 128);
    const uint8_t* frame[3] = {y.data(), c.data(), c.data()};
    OutputGeometry g;
    PreviewImage image;
    EXPECT_FALSE(renderDestination(g, frame, image));
    GeometryParams p;
    p.width = 352, p.height = 288, p.ratio = 0;
    ASSERT_TRUE(g.prepare(p));
    ASSERT_TRUE(renderDestination(g, frame, image));
    EXPECT_EQ(image.y.size(), 352u * 288u);
    EXPECT_EQ(image.y[0], 16);                // letterbox band
    EXPECT_EQ(image.y[144 * 352 + 10], 200);  // picture
}

}  // namespace
}  // namespace zembra
