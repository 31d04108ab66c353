#include "app/source_kind.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(SourceKind, FoldersAndDiscImagesAreOpenedAsADisc) {
    TempDir tmp;
    fs::create_directories(tmp / "DISC/VIDEO_TS");
    EXPECT_EQ(sourceKindOf((tmp / "DISC").string()), SourceKind::Dvd);
    EXPECT_EQ(sourceKindOf((tmp / "DISC/VIDEO_TS").string() + "/"), SourceKind::Dvd);
    // A folder is a disc whatever its name says.
    fs::create_directories(tmp / "odd.ifo");
    EXPECT_EQ(sourceKindOf((tmp / "odd.ifo").string()), SourceKind::Dvd);
    for (const char* name : {"a.iso", "B.ISO", "c.Img", "d.udf", "e.bin", "f.NRG", "g.mdf"}) {
        tmp.write(name, "x");
        EXPECT_EQ(sourceKindOf((tmp / name).string()), SourceKind::Dvd) << name;
    }
    // Not there (an unplugged disc's image): still its name decides.
    EXPECT_EQ(sourceKindOf((tmp / "gone.iso").string()), SourceKind::Dvd);
    // A link to a folder is the folder.
    fs::create_directory_symlink(tmp / "DISC", tmp / "link");
    EXPECT_EQ(sourceKindOf((tmp / "link").string()), SourceKind::Dvd);
}

TEST(SourceKind, BlockDevicesAreDrives) {
    for (const char* dev : {"/dev/sr0", "/dev/loop0", "/dev/vda", "/dev/sda"}) {
        struct stat st {};
        if (::stat(dev, &st) == 0 && S_ISBLK(st.st_mode)) {
            EXPECT_EQ(sourceKindOf(dev), SourceKind::Dvd) << dev;
            return;
        }
    }
    GTEST_SKIP() << "no block device to look at";
}

TEST(SourceKind, IfoAndOtherFiles) {
    TempDir tmp;
    for (const char* name : {"VTS_01_0.IFO", "vts_02_0.ifo", "x.Ifo"}) {
        tmp.write(name, "x");
        EXPECT_EQ(sourceKindOf((tmp / name).string()), SourceKind::Ifo) << name;
    }
    for (const char* name :
         {"VTS_01_1.VOB", "clip.mpg", "movie.m2v", "noext", "x.iso.vob", "ifo", "iso"}) {
        tmp.write(name, "x");
        EXPECT_EQ(sourceKindOf((tmp / name).string()), SourceKind::Vob) << name;
    }
    EXPECT_EQ(sourceKindOf(""), SourceKind::Vob);
    EXPECT_EQ(sourceKindOf(".iso"), SourceKind::Dvd);
}

}  // namespace
}  // namespace zembra
