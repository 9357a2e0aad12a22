// bChanged across real processes: an application keeps a camera initialised
// while another process loads a preset; the application's next
// initialisation reads SaveData again, and only SaveData.
#include <sys/wait.h>
#include <unistd.h>

#include "client_process.h"
#include "config_fixture.h"

namespace config_test {
namespace {

TEST_F(ConfigTest, PresetLoadedInAnotherProcessMakesTheNextInitRereadSaveData) {
    testing_support::TempDir runtime;
    PlugCamera(Long());
    process_tests::Client client, loader;
    struct Ender {  // no process outlives the test, also when it stops early
        process_tests::Client &a, &b;
        ~Ender() { process_tests::Kill(a), process_tests::Kill(b); }
    } ender{client, loader};
    ASSERT_TRUE(process_tests::StartClient(runtime.path, &client, {}, dir_.path));
    ASSERT_EQ(process_tests::Ask(client, "list", 20000), name_);
    const std::string init = "init " + name_, ok = std::to_string(TAVCAM_INIT_OK);
    EXPECT_EQ(process_tests::Ask(client, init, 20000), ok);
    ClearLog();
    EXPECT_EQ(process_tests::Ask(client, init, 20000), ok);  // nobody changed anything
    EXPECT_TRUE(Log().empty());

    ASSERT_TRUE(process_tests::StartClient(runtime.path, &loader, {"preset", "load", name_, "1"},
                                           dir_.path, "tavcam"));
    int status = -1;
    EXPECT_TRUE(process_tests::WaitFor(
        [&] { return waitpid(loader.pid, &status, WNOHANG) == loader.pid; }, 30000));
    close(loader.in), close(loader.out);
    loader = {};
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ClearLog();
    EXPECT_EQ(process_tests::Ask(client, init, 20000), ok);
    EXPECT_EQ(FlashReads(0), 0);
    EXPECT_EQ(FlashReads(1), 4);
    // Flash still marks preset 0 current: its settings are applied again.
    ASSERT_EQ(Commands().size(), 18u);
    EXPECT_EQ(Commands()[0], WriteReg(0x820, 16));

    ClearLog();
    EXPECT_EQ(process_tests::Ask(client, init, 20000), ok);  // the flag was cleared for everyone
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(process_tests::Exit(client));
}

}  // namespace
}  // namespace config_test
