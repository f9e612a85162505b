// The engine's portable core: pure logic, run natively under the sanitizers.
#include <gtest/gtest.h>

#include <string>

#include "deadline.h"
#include "devtools_port.h"

using namespace wkechr;

TEST(DevToolsPort, ActivePortFile) {
    struct Case {
        const char* text;
        bool ok;
        int port;
        const char* path;
    } cases[] = {
        {"9222\n/devtools/browser/abc\n", true, 9222, "/devtools/browser/abc"},
        {"41234\r\n/devtools/browser/x-y\r\n", true, 41234, "/devtools/browser/x-y"},
        {"9222\n", false, 0, ""},
        {"", false, 0, ""},
        {"70000\n/devtools/browser/a\n", false, 0, ""},
        {"92a2\n/devtools/browser/a\n", false, 0, ""},
    };
    for (const auto& c : cases) {
        int port = 0;
        std::string path;
        EXPECT_EQ(ParseDevToolsActivePort(c.text, port, path), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port);
            EXPECT_EQ(path, c.path);
        }
    }
}

TEST(Deadline, WithinNeverExtendsTheOperationsBudget) {
    const Deadline whole = Deadline::At(1000);
    EXPECT_EQ(whole.Within(5000, 0).When(), 1000);  // a call's own cap cannot stretch the budget
    EXPECT_EQ(whole.Within(200, 0).When(), 200);
    EXPECT_EQ(whole.RemainingMs(1500), 0);
    EXPECT_TRUE(whole.Passed(1000));
    EXPECT_FALSE(whole.Passed(999));
}
