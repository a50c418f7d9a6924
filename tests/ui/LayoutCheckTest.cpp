// The layout check that the window tests run at each DPI: a clean form passes, and each kind of fault on a
// small form is found and named.
#include "GuiHarness.h"
#include "LayoutCheck.h"

#include "Application.h"
#include "Forms.h"
#include "StdCtrls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct TFaultCase {
    const char* name;
    // Places two buttons on a 300 x 200 client area; the first is created first.
    std::function<void(TButton& first, TButton& second)> place;
    const char* expected; // a piece of the one fault, or null for none
};

class LayoutCheckTest : public ::testing::TestWithParam<TFaultCase> {
protected:
    TApplication app;
    gui::TGuiSession session{app};
};

TEST_P(LayoutCheckTest, FindsTheFaultOfTheForm)
{
    const TFaultCase& c = GetParam();
    TForm form(app);
    form.SetCaption(L"Layout");
    form.SetClientSize(300, 200);
    form.SetPosition(TPosition::Designed, 20, 20);
    TButton first(form, L"&First");
    TButton second(form, L"&Second");
    c.place(first, second);
    form.Show();
    session.PumpFor(50);

    std::vector<std::string> faults = gui::LayoutFaults(form.Handle());
    if (!c.expected) {
        EXPECT_TRUE(faults.empty()) << faults.front();
        return;
    }
    ASSERT_EQ(faults.size(), 1u) << (faults.empty() ? "no fault" : faults.back());
    EXPECT_NE(faults[0].find(c.expected), std::string::npos) << faults[0];
}

INSTANTIATE_TEST_SUITE_P(Forms, LayoutCheckTest,
                         ::testing::Values(TFaultCase{"Clean",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(10, 10, 80, 25);
                                                          b.SetBounds(100, 10, 80, 25);
                                                      },
                                                      nullptr},
                                           TFaultCase{"NextRow",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(200, 10, 80, 25);
                                                          b.SetBounds(10, 50, 80, 25);
                                                      },
                                                      nullptr},
                                           TFaultCase{"Outside",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(10, 10, 80, 25);
                                                          b.SetBounds(250, 10, 80, 25);
                                                      },
                                                      "lies outside its parent"},
                                           TFaultCase{"Overlap",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(10, 10, 80, 25);
                                                          b.SetBounds(60, 20, 80, 25);
                                                      },
                                                      "overlaps"},
                                           TFaultCase{"TextWithoutRoom",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(10, 10, 80, 25);
                                                          b.SetBounds(100, 10, 80, 25);
                                                          b.SetCaption(L"A caption far too long for its button");
                                                      },
                                                      "for its text"},
                                           TFaultCase{"TabGoesBackOnTheRow",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(100, 10, 80, 25);
                                                          b.SetBounds(10, 10, 80, 25);
                                                      },
                                                      "in the tab order but stands before it"},
                                           TFaultCase{"TabGoesUp",
                                                      [](TButton& a, TButton& b) {
                                                          a.SetBounds(10, 50, 80, 25);
                                                          b.SetBounds(10, 10, 80, 25);
                                                      },
                                                      "in the tab order but stands before it"}),
                         [](const ::testing::TestParamInfo<TFaultCase>& info) { return std::string(info.param.name); });

} // namespace
