#include "crash/CrashHandler.h"

#include <gtest/gtest.h>

// The global object of the test program, like the one of the benchmark, exists before
// main and has lent its buffer to the text library.
TEST(CrashHandlerTest, GlobalLendsItsErrorTextBuffer)
{
    char *text = ErrorText(ERROR_FILE_NOT_FOUND, NULL);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(g_CrashHandler.GetErrorTextBuffer(), text);
    EXPECT_EQ(g_CrashHandler.GetErrorTextBuffer(), GetSharedErrorText());
}

TEST(CrashHandlerTest, BeforeConfigureNothingIsOffered)
{
    // Nothing in this program configures the global one.
    EXPECT_STREQ("", g_CrashHandler.GetReportServer().GetText());
    EXPECT_EQ(0, g_CrashHandler.GetDialogIcon());
}

TEST(CrashHandlerTest, ConfigureStoresTheGivenTexts)
{
    // A null product is read from this program's version resource.
    const struct { const char *product, *extra, *expectedProduct, *expectedExtra; } cases[] = {
        {"X", NULL, "X", ""}, {"X", "second", "X", "second"}, {NULL, NULL, "CrashTestsUs", ""}};
    for (const auto &c : cases)
    {
        CCrashHandler handler;
        handler.Configure(101, "reports.test.example", "/tamsel/report.php", c.product,
                          c.extra);
        EXPECT_EQ(101, handler.GetDialogIcon());
        EXPECT_STREQ("reports.test.example", handler.GetReportServer().GetText());
        EXPECT_STREQ("/tamsel/report.php", handler.GetReportPath().GetText());
        EXPECT_STREQ(c.expectedProduct, handler.GetProductText().GetText())
            << (c.product ? c.product : "(null)");
        EXPECT_STREQ(c.expectedExtra, handler.GetExtraText().GetText());
    }
}
