// The login dialog's logic, driven through a fake window.
#include "authenticator/main_dlg.h"

#include <gtest/gtest.h>

#include <set>

#include "fake_login_window.h"
#include "recording_notifier.h"

namespace inkseal {
namespace {

using platform::kCancelButton;
using platform::kCodeEdit;
using platform::kCodeLabel;
using platform::kEmailEdit;
using platform::kEmailLabel;
using platform::kLogInButton;
using platform::kPasswordEdit;
using platform::kPasswordLabel;
using testing::FakeLoginWindow;
using testing::Notice;
using testing::RecordingNotifier;

// Nothing listens here: a test that reached the network would fail loudly.
constexpr char16_t kUnusedUrl[] = u"https://127.0.0.1:9/api/v1/getpersonaltoken";

class MainDlgTest : public ::testing::Test {
 protected:
  RecordingNotifier notifier;
  CMainDlg dialog{kUnusedUrl, CertificateTrust(), notifier};
  FakeLoginWindow window;
};

TEST_F(MainDlgTest, ReadingTrimsWhiteSpaceAtBothEndsOnlyAndLeavesTheControlsAsTyped) {
  window.texts[kEmailEdit] = u" \t ada lovelace@inkseal.test\r\n";
  window.texts[kPasswordEdit] = u"\u00A0\u3000 pass word \u2003\u000B\u000C";
  window.texts[kCodeEdit] = u"\n424242\u2028";

  ASSERT_TRUE(dialog.ReadFields(window));
  EXPECT_EQ(dialog.Fields().email, u"ada lovelace@inkseal.test");
  EXPECT_EQ(dialog.Fields().password, u"pass word");
  EXPECT_EQ(dialog.Fields().code, u"424242");
  EXPECT_EQ(window.texts[kEmailEdit], u" \t ada lovelace@inkseal.test\r\n");
  // Email, password, code: the hidden code edit is read like the others.
  EXPECT_EQ(window.readOrder, (std::vector<int>{kEmailEdit, kPasswordEdit, kCodeEdit}));
  EXPECT_EQ(window.beeps, 0);
}

TEST_F(MainDlgTest, FieldsOfBlanksOnlyReadAsEmptyAndAreRefusedWithoutSending) {
  window.texts[kEmailEdit] = u"   \t";
  window.texts[kPasswordEdit] = u"secret";
  ASSERT_TRUE(dialog.ReadFields(window));
  EXPECT_TRUE(dialog.Fields().email.empty());

  dialog.OnLogIn(window);
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].kind, Notice::Information);
  EXPECT_EQ(notifier.notices[0].text, u"Incorrect email or password.");
  EXPECT_FALSE(window.endedWith.has_value());

  notifier.notices.clear();
  window.texts[kEmailEdit] = u"ada@inkseal.test";
  window.texts[kPasswordEdit] = u" \u00A0 ";
  dialog.OnLogIn(window);
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].text, u"Incorrect email or password.");
  EXPECT_EQ(window.visible.count(kEmailEdit), 1u) << "mode unchanged";
}

TEST_F(MainDlgTest, AShortReadBeepsFocusesThatFieldAndEndsThePressSilently) {
  window.texts[kEmailEdit] = u"first@inkseal.test";
  window.texts[kPasswordEdit] = u"first";
  window.texts[kCodeEdit] = u"111111";
  ASSERT_TRUE(dialog.ReadFields(window));

  window.texts[kEmailEdit] = u"  second@inkseal.test";
  window.texts[kPasswordEdit] = u"second";
  window.texts[kCodeEdit] = u"222222";
  window.shortReads[kPasswordEdit] = 1;
  window.focused = kCodeEdit;

  dialog.OnLogIn(window);
  EXPECT_EQ(window.beeps, 1);
  EXPECT_EQ(window.focused, kPasswordEdit);
  EXPECT_TRUE(notifier.notices.empty()) << "no message besides the beep";
  EXPECT_FALSE(window.endedWith.has_value());
  // The code was never reached and keeps the value of the previous press.
  EXPECT_EQ(dialog.Fields().code, u"111111");
  EXPECT_EQ(window.readOrder.back(), kPasswordEdit);
}

TEST_F(MainDlgTest, AShortReadOfTheHiddenCodeEditFocusesIt) {
  window.texts[kEmailEdit] = u"a@b";
  window.texts[kPasswordEdit] = u"p";
  window.texts[kCodeEdit] = u"1234";
  window.shortReads[kCodeEdit] = 4;
  EXPECT_FALSE(dialog.ReadFields(window));
  EXPECT_EQ(window.focused, kCodeEdit);
  EXPECT_EQ(window.beeps, 1);
}

TEST_F(MainDlgTest, EmptyControlsReadAsEmptyFields) {
  ASSERT_TRUE(dialog.ReadFields(window));
  EXPECT_TRUE(dialog.Fields().email.empty());
  EXPECT_TRUE(dialog.Fields().password.empty());
  EXPECT_TRUE(dialog.Fields().code.empty());
}

TEST_F(MainDlgTest, TwoFactorModeShowsOnlyTheCodeAndTheButtonsAndKeepsTheTexts) {
  window.texts[kEmailEdit] = u"grace@inkseal.test";
  window.texts[kPasswordEdit] = u"cobol";
  window.focused = kPasswordEdit;

  CMainDlg::SwitchToTwoFactorMode(window);
  const std::vector<std::pair<int, bool>> order = {
      {kEmailEdit, false}, {kPasswordEdit, false}, {kEmailLabel, false},
      {kPasswordLabel, false}, {kCodeEdit, true}, {kCodeLabel, true}};
  EXPECT_EQ(window.showCalls, order);
  const std::set<int> twoFactorControls = {kCodeLabel, kCodeEdit, kLogInButton, kCancelButton};
  EXPECT_EQ(window.visible, twoFactorControls);
  // The password edit that had the keyboard is hidden: the code goes into
  // the code edit without an extra Tab.
  EXPECT_EQ(window.focused, kCodeEdit);

  CMainDlg::SwitchToTwoFactorMode(window);
  EXPECT_EQ(window.visible, twoFactorControls) << "a second switch changes nothing";

  // The hidden email and password are still read for the next press.
  window.texts[kCodeEdit] = u"424242";
  ASSERT_TRUE(dialog.ReadFields(window));
  EXPECT_EQ(dialog.Fields().email, u"grace@inkseal.test");
  EXPECT_EQ(dialog.Fields().password, u"cobol");
  EXPECT_EQ(dialog.Fields().code, u"424242");
}

// After a refused press the keyboard is where the user must retype (the
// window selects the old text, so typing replaces it).
TEST_F(MainDlgTest, AFailedPressFocusesTheFieldToCorrect) {
  window.texts[kEmailEdit] = u"ada@inkseal.test";
  window.texts[kPasswordEdit] = u"wrong";
  window.focused = kLogInButton;
  dialog.OnLogIn(window);  // nobody answers: the exchange fails
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].kind, Notice::HttpError);
  EXPECT_EQ(window.focused, kPasswordEdit);

  window.texts[kEmailEdit] = u"  ";
  dialog.OnLogIn(window);
  EXPECT_EQ(notifier.notices.back().text, u"Incorrect email or password.");
  EXPECT_EQ(window.focused, kEmailEdit) << "the empty email is what must be corrected";

  // A short read keeps its own focus on the field that could not be read.
  window.texts[kEmailEdit] = u"ada@inkseal.test";
  window.shortReads[kEmailEdit] = 1;
  dialog.OnLogIn(window);
  EXPECT_EQ(window.focused, kEmailEdit);
  EXPECT_EQ(notifier.notices.size(), 2u);
}

TEST_F(MainDlgTest, CancelEndsWithTwoInEitherModeAndShowsNothing) {
  dialog.OnCancel(window);
  EXPECT_EQ(window.endedWith, 2);

  FakeLoginWindow twoFactor;
  CMainDlg::SwitchToTwoFactorMode(twoFactor);
  dialog.OnCancel(twoFactor);
  EXPECT_EQ(twoFactor.endedWith, 2);
  EXPECT_TRUE(notifier.notices.empty());
}

}  // namespace
}  // namespace inkseal
