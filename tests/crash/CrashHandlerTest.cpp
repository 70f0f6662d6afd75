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

// A null product is read from this program's version resource, a null extra text is empty.
// The given texts themselves reach the upload form in the report dialog tests.
TEST(CrashHandlerTest, ConfigureFillsInNullTexts)
{
    CCrashHandler handler;
    handler.Configure(101, "reports.test.example", "/tamsel/report.php", NULL, NULL);
    EXPECT_STREQ("CrashTestsUs", handler.GetProductText().GetText());
    EXPECT_STREQ("", handler.GetExtraText().GetText());
}
