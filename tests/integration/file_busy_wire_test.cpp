// fileBusy as the download manager asks it, against the built helper and
// real processes holding the file.
#include "integration/helper_harness.h"
#include "support/held_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace harness;

class FileBusyOverTheWire : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        platform::testing::writeTextFile(file, "partial");
        start();
    }
    std::optional<std::string> ask(const std::string& path) { return m_client.ask("fileBusy \"" + path + "\"\n"); }

    platform::testing::TemporaryDirectory scratch;
    // A comma in the name must not split the path.
    std::string file = scratch / "a movie, cut.part";
};

TEST_F(FileBusyOverTheWire, AnswersWhetherAnotherProcessHoldsTheFile)
{
    EXPECT_EQ(ask(file), "0");
    EXPECT_EQ(ask(scratch / "missing"), "0");
    {
        support::FileHolderProcess finder(scratch.path(), "Finder", "open", file);
        EXPECT_EQ(ask(file), "0");
        support::FileHolderProcess player(scratch.path(), "player", "map", file);
        EXPECT_EQ(ask(file), "1");
    }
    EXPECT_EQ(ask(file), "0");
    m_client.send("fileBusy 12\n");
    EXPECT_EQ(m_client.readLine(), "0");
}

TEST_F(FileBusyOverTheWire, AFifoWithoutWriterIsAnsweredAtOnce)
{
    auto fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ask(fifo), "0");
    m_client.send("version\n");
    EXPECT_EQ(m_client.readLine(), version());
}

} // namespace
