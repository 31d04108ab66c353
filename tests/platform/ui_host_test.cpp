#include <gtest/gtest.h>

#include "platform/ui_host.h"

namespace zembra {
namespace {

class SilentHost : public UiHost {
public:
    BoxAnswer messageBox(BoxKind, const std::string&) override { return BoxAnswer::Ok; }
    void pumpMessages() override {}
    void setStatus(const std::string&) override {}
    void setProgress(int, int) override {}
};

TEST(UiHost, UnknownKeyFallsBackToTheKeyItself) {
    SilentHost host;
    EXPECT_EQ(host.text("STR_NO_SUCH_KEY"), "STR_NO_SUCH_KEY");
}

}  // namespace
}  // namespace zembra
