#include "app/Extra.h"

#include <gtest/gtest.h>

namespace {

TEST(FileBaseName, NameUpToItsFirstDot)
{
    EXPECT_EQ(qm::FileBaseName("a:\\x\\Disk2.id"), "Disk2");
    EXPECT_EQ(qm::FileBaseName("README"), "README");
    EXPECT_EQ(qm::FileBaseName("a.b.c"), "a");
    EXPECT_EQ(qm::FileBaseName("C:\\dir.d\\file"), "file"); // a dot in the directory does not count
}

TEST(FileBaseName, DriveAndEmptyNames)
{
    EXPECT_EQ(qm::FileBaseName("A:Disk1.id"), "Disk1");
    EXPECT_EQ(qm::FileBaseName(".profile"), "");
    EXPECT_EQ(qm::FileBaseName("C:\\dir\\"), "");
    EXPECT_EQ(qm::FileBaseName(""), "");
}

TEST(PathInFolder, NetworkFoldersKeepTheirPrefix) // a drive and a drive root: LoaderWindowTest
{
    EXPECT_EQ(qm::PathInFolder("\\\\server\\share\\dir", "veldratp"), "\\\\server\\share\\dir\\veldratp");
}

} // namespace
