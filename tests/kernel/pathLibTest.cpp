// The path library: component splitting, joining, condensing and splitting off the last name,
// each with buffers cut exactly to size and one byte short.
#include <kernel/pathLib.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> parsed(const char *path, int maxNames = 16, size_t bufSize = 256)
{
    std::array<char *, 16> names{};
    std::array<char, 256> buf{};
    const int count = pathParse(path, names.data(), maxNames, buf.data(), bufSize);
    if (count < 0) {
        return {"<fail>"};
    }
    std::vector<std::string> out(names.begin(), names.begin() + count);
    EXPECT_EQ(names[static_cast<std::size_t>(count)], nullptr);
    return out;
}

TEST(PathParseTest, SplitsAtSeparators)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(parsed(""), V{});
    EXPECT_EQ(parsed("/"), V{});
    EXPECT_EQ(parsed("////"), V{});
    EXPECT_EQ(parsed("a"), V{"a"});
    EXPECT_EQ(parsed("/a//b/"), (V{"a", "b"}));
    EXPECT_EQ(parsed("./../c"), (V{".", "..", "c"}));
}

TEST(PathParseTest, RefusesTablesAndBuffersTooSmall)
{
    using V = std::vector<std::string>;
    // "a/bc" needs 2 names + the null end and 5 bytes of text.
    EXPECT_EQ(parsed("a/bc", 3, 5), (V{"a", "bc"}));
    EXPECT_EQ(parsed("a/bc", 2, 5), V{"<fail>"});
    EXPECT_EQ(parsed("a/bc", 3, 4), V{"<fail>"});
    EXPECT_EQ(parsed("", 1, 0), V{});
    EXPECT_EQ(parsed("a", 0, 4), V{"<fail>"});
    std::array<char *, 2> names{};
    std::array<char, 4> buf{};
    EXPECT_EQ(pathParse(nullptr, names.data(), 2, buf.data(), buf.size()), -1);
}

TEST(PathBuildTest, AppendsComponentsUpToTheEnd)
{
    std::array<char, 32> one{"x"}, two{"y"}, three{"zz"};
    std::array<char *, 4> names{one.data(), two.data(), three.data(), nullptr};
    std::array<char, 32> dest{};
    ASSERT_EQ(pathBuild(names.data(), nullptr, dest.data(), dest.size()), 0);
    EXPECT_STREQ(dest.data(), "/x/y/zz");

    std::snprintf(dest.data(), dest.size(), "pre");
    ASSERT_EQ(pathBuild(names.data(), &names[2], dest.data(), dest.size()), 0);
    EXPECT_STREQ(dest.data(), "pre/x/y");
    dest[0] = '\0';
    ASSERT_EQ(pathBuild(names.data(), names.data(), dest.data(), dest.size()), 0);
    EXPECT_STREQ(dest.data(), "");
}

TEST(PathBuildTest, OneByteShortFailsAndLeavesDest)
{
    std::array<char, 8> one{"ab"}, two{"cd"};
    std::array<char *, 3> names{one.data(), two.data(), nullptr};
    std::array<char, 8> dest{};
    ASSERT_EQ(pathBuild(names.data(), nullptr, dest.data(), 7), 0); // "/ab/cd" + NUL
    EXPECT_STREQ(dest.data(), "/ab/cd");
    dest.fill('#');
    dest[0] = '\0';
    EXPECT_EQ(pathBuild(names.data(), nullptr, dest.data(), 6), -1);
    EXPECT_EQ(dest[0], '\0');
    EXPECT_EQ(dest[1], '#');
    // A destination without a terminator inside its size is refused.
    dest.fill('#');
    EXPECT_EQ(pathBuild(names.data(), nullptr, dest.data(), dest.size()), -1);
}

TEST(PathCatTest, JoinsRelativeNamesOnly)
{
    std::array<char, 32> out{};
    ASSERT_EQ(pathCat("/a/b", "c", out.data(), out.size()), 0);
    EXPECT_STREQ(out.data(), "/a/b/c");
    ASSERT_EQ(pathCat("/a/b", "/abs", out.data(), out.size()), 0);
    EXPECT_STREQ(out.data(), "/abs");
    ASSERT_EQ(pathCat("", "rel", out.data(), out.size()), 0);
    EXPECT_STREQ(out.data(), "rel");
    ASSERT_EQ(pathCat(nullptr, "rel", out.data(), out.size()), 0);
    EXPECT_STREQ(out.data(), "rel");

    EXPECT_EQ(pathCat("ab", "cd", out.data(), 6), 0); // "ab/cd" + NUL
    out.fill('#');
    EXPECT_EQ(pathCat("ab", "cd", out.data(), 5), -1);
    EXPECT_EQ(pathCat("", "abcd", out.data(), 4), -1);
    EXPECT_EQ(out[4], '#');
    EXPECT_EQ(pathCat("a", nullptr, out.data(), out.size()), -1);
}

std::string condensed(const char *path)
{
    std::string text(path);
    pathCondense(text.data());
    text.resize(std::strlen(text.c_str()));
    return text;
}

TEST(PathCondenseTest, DotsAndSeparators)
{
    EXPECT_EQ(condensed(""), "");
    EXPECT_EQ(condensed("/"), "/");
    EXPECT_EQ(condensed("///"), "/");
    EXPECT_EQ(condensed("."), "");
    EXPECT_EQ(condensed("/./"), "/");
    EXPECT_EQ(condensed("a//b///c/"), "a/b/c");
    EXPECT_EQ(condensed("//a/./b"), "/a/b");
    EXPECT_EQ(condensed("/a/b/../c"), "/a/c");
    EXPECT_EQ(condensed("/a/b/../../c"), "/c");
    EXPECT_EQ(condensed("a/.."), "");
    EXPECT_EQ(condensed("/.."), "/");
    EXPECT_EQ(condensed("../../a"), "a");
    EXPECT_EQ(condensed("/a/../../b/./c/.."), "/b");
    EXPECT_EQ(condensed("a/...b/..."), "a/...b/...");
    EXPECT_EQ(condensed("/ab/..x/.."), "/ab");
    pathCondense(nullptr);
}

struct Split {
    int rc;
    std::string dir;
    std::string name;
};

Split split(const char *path, size_t dirSize = 64, size_t nameSize = 64)
{
    std::array<char, 64> dir{}, name{};
    dir.fill('#');
    name.fill('#');
    const int rc = pathSplit(path, dir.data(), dirSize, name.data(), nameSize);
    if (rc != 0) {
        EXPECT_EQ(dir[0], '#');
        EXPECT_EQ(name[0], '#');
        return {rc, "", ""};
    }
    return {rc, dir.data(), name.data()};
}

TEST(PathSplitTest, AtTheLastSeparator)
{
    auto check = [](const char *path, const char *dir, const char *name) {
        const Split got = split(path);
        EXPECT_EQ(got.rc, 0) << path;
        EXPECT_EQ(got.dir, dir) << path;
        EXPECT_EQ(got.name, name) << path;
    };
    check("name", "", "name");
    check("", "", "");
    check("/a", "/", "a");
    check("/a/b", "/a", "b");
    check("a/b/c", "a/b", "c");
    check("a//b", "a", "b");
    check("//a", "/", "a");
    check("/", "/", "");
    check("a/", "a", "");
}

TEST(PathSplitTest, BuffersOneByteShortWriteNothing)
{
    EXPECT_EQ(split("ab/cd", 3, 3).rc, 0);
    EXPECT_EQ(split("ab/cd", 2, 3).rc, -1);
    EXPECT_EQ(split("ab/cd", 3, 2).rc, -1);
    EXPECT_EQ(split("/x", 1, 2).rc, -1);
    EXPECT_EQ(split("abc", 1, 3).rc, -1);
    EXPECT_EQ(split("abc", 1, 4).rc, 0);
    EXPECT_EQ(split(nullptr).rc, -1);
}

} // namespace
