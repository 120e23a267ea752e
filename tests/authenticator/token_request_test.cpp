// "Log in" against the stand-in signature service: what goes over the wire,
// how replies are judged, and what lands in the settings file.
#include "authenticator/token_request.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "common/settings.h"
#include "text/utf.h"
#include "platform/folders.h"
#include "recording_notifier.h"
#include "stand_in_service.h"

namespace inkseal {
namespace {

namespace fs = std::filesystem;
using testing::Notice;
using testing::RecordingNotifier;
using testing::StandInService;

constexpr char kFormType[] = "application/x-www-form-urlencoded";

// A fresh folder standing in for the per-user folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("inkseal-login-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  // With its trailing separator, as the dialog keeps it.
  std::u16string UserFolder() const { return path_.u16string() + platform::kPathSeparator; }
  fs::path SettingsFile() const { return path_ / "vod995.ini"; }
  bool HasSettingsFile() const { return fs::exists(SettingsFile()); }
  std::string SettingsText() const {
    std::ifstream in(SettingsFile(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::optional<std::u16string> Read(const char16_t* key) const {
    return ReadSetting(key, kSettingsSection, SettingsFile().u16string());
  }

 private:
  fs::path path_;
};

class TokenRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (StandInService::HostAndPort().empty()) GTEST_SKIP() << "run through with_stand_in_service.py";
    StandInService::Reset();
  }

  LoginOutcome Press(const LoginFields& fields) {
    return RequestPersonalToken(fields, StandInService::Url("/api/v1/getpersonaltoken"), StandInService::Trust(),
                                folder.UserFolder(), credentials, notifier);
  }

  // The one informational message of the last press.
  std::u16string OnlyInformation() {
    EXPECT_EQ(notifier.notices.size(), 1u);
    if (notifier.notices.empty()) return u"<none>";
    EXPECT_EQ(notifier.notices[0].kind, Notice::Information);
    std::u16string text = notifier.notices[0].text;
    notifier.notices.clear();
    return text;
  }

  TempFolder folder;
  OAuthValues credentials;
  RecordingNotifier notifier;
};

TEST_F(TokenRequestTest, TheFormArrivesPercentEncodedWithItsExactLengthAndType) {
  Press({u"a b@inkseal.test", u"p&w=d \u00E9+", u""});

  const auto requests = StandInService::Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/api/v1/getpersonaltoken");
  EXPECT_EQ(request.body, "email=a%20b%40inkseal.test&password=p%26w%3Dd%20%C3%A9%2B&totp=");
  EXPECT_EQ(request.Header("Content-Length"), std::to_string(request.body.size()));
  EXPECT_EQ(request.Header("Content-Type"), kFormType);
  EXPECT_EQ(OnlyInformation(), u"Wrong email or password.");
  EXPECT_FALSE(folder.HasSettingsFile());
}

TEST_F(TokenRequestTest, SuccessWritesTheFourKeysInOrderIntoTheUserFile) {
  EXPECT_EQ(Press({u"ada@inkseal.test", u"analytical engine", u""}), LoginOutcome::Stored);
  EXPECT_TRUE(notifier.notices.empty());

  EXPECT_EQ(folder.Read(kKeyOAuthClientKey), u"ck-ada");
  EXPECT_EQ(folder.Read(kKeyOAuthClientSecret), u"cs-ada");
  EXPECT_EQ(folder.Read(kKeyOAuthTokenKey), u"tk-ada");
  EXPECT_EQ(folder.Read(kKeyOAuthTokenSecret), u"ts-ada");
  const std::string text = folder.SettingsText();
  const size_t clientKey = text.find("OAuthClientKey");
  const size_t clientSecret = text.find("OAuthClientSecret");
  const size_t tokenKey = text.find("OAuthTokenKey");
  const size_t tokenSecret = text.find("OAuthTokenSecret");
  EXPECT_NE(text.find("[Parameters]"), std::string::npos);
  EXPECT_LT(clientKey, clientSecret);
  EXPECT_LT(clientSecret, tokenKey);
  EXPECT_LT(tokenKey, tokenSecret);
  EXPECT_NE(tokenSecret, std::string::npos);
}

TEST_F(TokenRequestTest, ATwoFactorDemandSwitchesAndTheCodeIsSentWithTheSameCredentials) {
  LoginFields fields{u"grace@inkseal.test", u"cobol", u""};
  EXPECT_EQ(Press(fields), LoginOutcome::TwoFactorDemanded);
  EXPECT_EQ(OnlyInformation(), u"Please enter your TOTP code.");
  EXPECT_FALSE(folder.HasSettingsFile());

  fields.code = u"424242";
  EXPECT_EQ(Press(fields), LoginOutcome::Stored);
  EXPECT_EQ(folder.Read(kKeyOAuthTokenSecret), u"ts-grace");

  const auto requests = StandInService::Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "email=grace%40inkseal.test&password=cobol&totp=");
  EXPECT_EQ(requests[1].body, "email=grace%40inkseal.test&password=cobol&totp=424242");
}

TEST_F(TokenRequestTest, TheDemandIsStatusErrorInAnyCaseWithTotpInAnyCaseInTheMessage) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  StandInService::QueueReply(200, R"({"status":"ERROR","message":"enter the totp from your phone"})");
  EXPECT_EQ(Press(fields), LoginOutcome::TwoFactorDemanded);
  EXPECT_EQ(OnlyInformation(), u"enter the totp from your phone");

  StandInService::QueueReply(200, R"({"status":"error","message":"Account locked."})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"Account locked.");

  StandInService::QueueReply(200, R"({"status":"failed","message":"TOTP"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed) << "only status error demands a code";
  EXPECT_EQ(OnlyInformation(), u"TOTP");

  StandInService::QueueReply(200, R"({"status":"error"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"") << "no message: an empty box";
}

TEST_F(TokenRequestTest, AMessageOverSeveralLinesIsShownWholeAndStillDemandsACode) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  StandInService::QueueReply(200, R"({"status":"error","message":"Line one\nLine two"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"Line one\nLine two");

  StandInService::QueueReply(200, "{\"status\":\"error\",\"message\":\"Wrong code.\r\nEnter your TOTP code.\"}");
  EXPECT_EQ(Press(fields), LoginOutcome::TwoFactorDemanded);
  EXPECT_EQ(OnlyInformation(), u"Wrong code.\r\nEnter your TOTP code.");
}

TEST_F(TokenRequestTest, TheFourStringValuesAloneDecideWhateverStatusMessageOrHttpCode) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  StandInService::QueueReply(401, R"({"status":"error","message":"TOTP needed","apitoken":"k","apisecret":"s",)"
                                  R"("accesstoken":"t","accesssecret":"u"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Stored);
  EXPECT_TRUE(notifier.notices.empty());
  EXPECT_EQ(folder.Read(kKeyOAuthClientKey), u"k");
  EXPECT_EQ(folder.Read(kKeyOAuthTokenSecret), u"u");
}

TEST_F(TokenRequestTest, ValuesOfOtherKindsCountAsAbsent) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  StandInService::QueueReply(200, R"({"apitoken":12345,"apisecret":"s","accesstoken":"t","accesssecret":"u",)"
                                  R"("message":"numbers are not tokens"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"numbers are not tokens");
  EXPECT_FALSE(folder.HasSettingsFile());

  StandInService::QueueReply(200, R"({"apitoken":null,"message":["x"],"status":true})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"");
  EXPECT_FALSE(credentials.clientKey.has_value());
}

TEST_F(TokenRequestTest, ValuesSplitOverTwoRepliesAddUpToSuccess) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  StandInService::QueueReply(200, R"({"apitoken":"k1","apisecret":"s1","message":"half way"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"half way");
  EXPECT_FALSE(folder.HasSettingsFile());

  StandInService::QueueReply(200, R"({"accesstoken":"t2","accesssecret":"u2"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Stored);
  EXPECT_EQ(folder.Read(kKeyOAuthClientKey), u"k1");
  EXPECT_EQ(folder.Read(kKeyOAuthClientSecret), u"s1");
  EXPECT_EQ(folder.Read(kKeyOAuthTokenKey), u"t2");
  EXPECT_EQ(folder.Read(kKeyOAuthTokenSecret), u"u2");
}

TEST_F(TokenRequestTest, NonAsciiValuesAreDecodedFromUtf8) {
  StandInService::QueueReply(200, "{\"message\":\"Gr\xC3\xBC\xC3\x9F dich \xE2\x98\x83 \xF0\x9F\x94\x92\"}");
  EXPECT_EQ(Press({u"x@inkseal.test", u"x", u""}), LoginOutcome::Failed);
  EXPECT_EQ(OnlyInformation(), u"Gr\u00FC\u00DF dich \u2603 \U0001F512");
}

// The box shows the form with the password and the code masked whole,
// whatever characters they hold.
TEST_F(TokenRequestTest, AFailedExchangeShowsTheFormWithItsSecretsMaskedAndTheHeaders) {
  // Nothing listens on port 1 of the loopback.
  const LoginOutcome outcome =
      RequestPersonalToken({u"a b@inkseal.test", u"s\"&c ret", u"123456"},
                           u"https://127.0.0.1:1/api/v1/getpersonaltoken", CertificateTrust(), folder.UserFolder(),
                           credentials, notifier);
  EXPECT_EQ(outcome, LoginOutcome::Failed);
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].kind, Notice::HttpError);
  EXPECT_EQ(notifier.notices[0].code, 12029u) << "cannot connect";
  EXPECT_EQ(notifier.notices[0].text,
            u"Please report to sysadmin the following: Failed to print the document."
            u"\nResponseHeaders: "
            u"\nxcdata: email=a%20b%40inkseal.test&password=***&totp=***"
            u"\nheaders: Content-Length: 62\r\nContent-Type: application/x-www-form-urlencoded\r\n");
}

// Replies the reader rejects are told as an unreadable reply, with the
// reply's HTTP status, what that means, and the reader's message on a line of
// its own (the stand-in service gives canned replies the reason "Canned");
// the dialog stays open, nothing is stored and earlier values stay.
TEST_F(TokenRequestTest, AReplyThatIsNotAJsonObjectIsReportedWithItsStatusNotThrown) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  credentials.clientKey = u"kept";
  const std::u16string explanation =
      u"The service, or a proxy on the way to it, answered with something other than the service's data, for "
      u"example an error page.";
  StandInService::QueueReply(502, "<html>Bad gateway</html>");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].kind, Notice::Error);
  EXPECT_EQ(notifier.notices[0].text, u"The service's reply could not be read (HTTP status 502 Canned).\n" +
                                          explanation + u"\nUnexpected character in stream: <");
  notifier.notices.clear();

  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  for (const std::string& body : {std::string(""), std::string("[1,2]"), std::string(R"({"apitoken":"a"} {"x":1})"),
                                  std::string(R"({"a":"b","a":"c"})"), "{\"deep\":" + deep + "}"}) {
    StandInService::QueueReply(200, body);
    EXPECT_EQ(Press(fields), LoginOutcome::Failed) << body.substr(0, 40);
    ASSERT_EQ(notifier.notices.size(), 1u) << body.substr(0, 40);
    EXPECT_EQ(notifier.notices[0].kind, Notice::Error);
    const std::u16string lead =
        u"The service's reply could not be read (HTTP status 200 Canned).\n" + explanation + u"\n";
    EXPECT_EQ(notifier.notices[0].text.substr(0, lead.size()), lead);
    EXPECT_GT(notifier.notices[0].text.size(), lead.size()) << "the reader's message follows";
    notifier.notices.clear();
  }
  EXPECT_EQ(credentials.clientKey, u"kept");
  EXPECT_FALSE(credentials.tokenKey.has_value());
  EXPECT_FALSE(folder.HasSettingsFile());
}

// A value that would add lines to the settings file is not taken, and the
// user is told which one, before the service's own message if there is one.
TEST_F(TokenRequestTest, AValueWithALineBreakOrNulIsNotStoredAndNamed) {
  const LoginFields fields{u"x@inkseal.test", u"x", u""};
  const std::string others = R"(","apisecret":"s","accesstoken":"t","accesssecret":"u","message":"m"})";
  for (const char* injected : {R"(k\nOAuthTokenKey=evil)", R"(k\r\n[Other])", R"(k\r)"}) {
    credentials = OAuthValues{};
    StandInService::QueueReply(200, std::string(R"({"apitoken":")") + injected + others);
    EXPECT_EQ(Press(fields), LoginOutcome::Failed) << injected;
    ASSERT_EQ(notifier.notices.size(), 2u);
    EXPECT_EQ(notifier.notices[0].kind, Notice::Error);
    EXPECT_EQ(notifier.notices[0].text,
              u"The service's reply could not be stored: the settings file keeps each value on one line, and the "
              u"reply's \"apitoken\" holds a line break or NUL character.");
    notifier.notices.erase(notifier.notices.begin());
    EXPECT_EQ(OnlyInformation(), u"m");
    EXPECT_FALSE(credentials.clientKey.has_value());
    EXPECT_FALSE(folder.HasSettingsFile());
  }
  // Without a message of the service's, the reason alone; never an empty box.
  StandInService::QueueReply(200, R"({"apitoken":"k\n","apisecret":"s","accesstoken":"t","accesssecret":"u\r"})");
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  ASSERT_EQ(notifier.notices.size(), 1u);
  EXPECT_EQ(notifier.notices[0].kind, Notice::Error);
  EXPECT_NE(notifier.notices[0].text.find(u"reply's \"apitoken\", \"accesssecret\" hold a line break"),
            std::u16string::npos)
      << Utf16ToUtf8(notifier.notices[0].text);
  notifier.notices.clear();
  // A raw NUL may not even reach the reader whole; either way nothing is kept.
  credentials = OAuthValues{};
  StandInService::QueueReply(200, std::string(R"({"apitoken":"k)") + std::string(1, '\0') + "tail" + others);
  EXPECT_EQ(Press(fields), LoginOutcome::Failed);
  EXPECT_FALSE(credentials.clientKey.has_value());
  EXPECT_FALSE(folder.HasSettingsFile());
}

}  // namespace
}  // namespace inkseal
