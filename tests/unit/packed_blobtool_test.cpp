// blobtool as people run it: pack and unpack give the file back, an empty
// input is refused, and a blob that does not unpack leaves no output file.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tests/unit/packed_test_support.h"

using namespace packed_test;

namespace {

class BlobtoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/blobtool-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string path(const char* name) const { return dir_ + "/" + name; }

    void writeFile(const std::string& p, const Bytes& bytes) const {
        FILE* f = fopen(p.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) {
            ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        }
        fclose(f);
    }

    // Exit code of blobtool with the arguments; its stderr goes to err.
    int run(const std::string& arguments) const {
        std::string command = std::string(BLOBTOOL_PATH) + " " + arguments + " >/dev/null 2>'" + path("err") + "'";
        int status = system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string errorText() const {
        Bytes e;
        readWholeFile(path("err"), &e);
        return std::string(e.begin(), e.end());
    }

    static bool exists(const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0;
    }

    std::string dir_;
};

}  // namespace

TEST_F(BlobtoolTest, PackThenUnpackGivesTheFileBack) {
    Bytes data = randomBytes(5000, 4);
    data.insert(data.end(), data.begin(), data.begin() + 3000);
    writeFile(path("in"), data);
    ASSERT_EQ(run("pack " + path("in") + " " + path("blob")), 0);
    Bytes blob;
    ASSERT_TRUE(readWholeFile(path("blob"), &blob));
    ASSERT_GE(blob.size(), 24u);
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), "QKOC");
    EXPECT_EQ(blob[4], 24);
    EXPECT_LT(blob.size(), data.size());

    ASSERT_EQ(run("unpack " + path("blob") + " " + path("out")), 0);
    Bytes out;
    ASSERT_TRUE(readWholeFile(path("out"), &out));
    EXPECT_EQ(out, data);
    // The input blob is left as it was (the unpack works on a copy).
    Bytes again;
    ASSERT_TRUE(readWholeFile(path("blob"), &again));
    EXPECT_EQ(again, blob);
    EXPECT_EQ(run("info " + path("blob")), 0);
}

TEST_F(BlobtoolTest, FailuresExitOneWithAReasonAndNoOutput) {
    writeFile(path("empty"), Bytes());
    EXPECT_EQ(run("pack " + path("empty") + " " + path("out")), 1);
    EXPECT_NE(errorText().find("empty"), std::string::npos);
    EXPECT_FALSE(exists(path("out")));

    writeFile(path("in"), Bytes(1000, 'z'));
    ASSERT_EQ(run("pack " + path("in") + " " + path("blob")), 0);
    Bytes blob;
    ASSERT_TRUE(readWholeFile(path("blob"), &blob));
    blob[12] ^= 1;  // packedCrc
    writeFile(path("bad"), blob);
    EXPECT_EQ(run("unpack " + path("bad") + " " + path("out")), 1);
    std::string reason = errorText();
    EXPECT_NE(reason.find("packedCrc"), std::string::npos) << reason;
    EXPECT_EQ(std::count(reason.begin(), reason.end(), '\n'), 1);
    EXPECT_FALSE(exists(path("out")));

    writeFile(path("short"), hex("51 4B 4F 43 18"));
    EXPECT_EQ(run("unpack " + path("short") + " " + path("out")), 1);
    EXPECT_FALSE(exists(path("out")));
    EXPECT_EQ(run("unpack " + path("missing") + " " + path("out")), 1);
    EXPECT_EQ(run("frobnicate"), 1);
}
