// Mail notification through the GUI's dialogs against the real vtnsvr and a real SMTP server
// (aiosmtpd): the SMTP settings saved and read back, recipients added, modified, deleted and
// refused, a test mail that arrives and one that fails; refused requests of a user without the
// mail right.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/signfunc1.h"
#include "drivergui_list.h"
#include "serverfixture.h"
#include "smtpsink.h"

namespace {

constexpr const char* kSetting = "E-mail notification setting";
constexpr const char* kAddTitle = "Add recipient";
constexpr const char* kModifyTitle = "Modify recipient";
constexpr const char* kBadRecipient = "Please enter a valid address of the recipient!";

// ---- the texts' rules --------------------------------------------------------------------------

TEST(MailTexts, AddressesNamesAndLevels)
{
    // The server keeps 63 bytes.
    const std::string longest = "a@example.com" + std::string(50, 'm'), tooLong = longest + "m";
    ASSERT_EQ(longest.size(), 63u);
    const struct {
        const char* address;
        bool invalid;
    } addresses[] = {
        {"a@example.com", false},     {"first.last@mail.example.org", false}, {"a@b.c", false},
        {"", true},                   {"example.com", true},                  {"@example.com", true},
        {"a@examplecom", true},       {"a@.example.com", true},              {"a b@example.com", true},
        {"a@example.com ", true},     {"a\t@example.com", true},             {"a@example.com\r\n", true},
        {"a@exa\nmple.com", true},    {"<a@example.com>", true},             {"a@example.com>x", true},
        {"a@exa\x7fmple.com", true},  {"a@x.y>\r\nRCPT TO:<b@x.y", true},
        {longest.c_str(), false},     {tooLong.c_str(), true},
    };
    for (const auto& a : addresses)
        EXPECT_EQ(InvalidAddress(a.address), a.invalid) << a.address;
    const std::string longName(64, 'n');
    const struct {
        const char* name;
        bool invalid;
    } names[] = {{"Alice", false},     {"Alice Smith", false}, {"Zo\xc3\xab", false},     {"A<b>", true},
                 {"line\nend", true}, {"cr\r", true},         {"tab\there", true},       {longName.c_str(), true},
                 {longName.c_str() + 1, false}};
    for (const auto& n : names)
        EXPECT_EQ(InvalidRecipientName(n.name), n.invalid) << n.name;
    const struct {
        uint8_t flags;
        const char* text;
    } levels[] = {{0, ""},          {1, "Information"},  {2, "Warning"},       {4, "Error"},
                  {6, "Warning,Error"}, {7, "Information,Warning,Error"}, {0x80 | 5, "Information,Error"}};
    for (const auto& l : levels) {
        char buf[64];
        LevelText(l.flags, buf, sizeof buf);
        EXPECT_STREQ(buf, l.text) << int(l.flags);
    }
    const struct {
        const char* text;
        bool valid;
        uint16_t port;
    } ports[] = {{"25", true, 25},  {"025", true, 25}, {"65535", true, 65535}, {"", false, 0}, {"0", false, 0},
                 {"65536", false, 0}, {"2 5", false, 0}, {"25x", false, 0},    {"-25", false, 0}};
    for (const auto& p : ports) {
        uint16_t value = 0;
        EXPECT_EQ(PortNumber(p.text, &value), p.valid) << p.text;
        if (p.valid) {
            EXPECT_EQ(value, p.port);
        }
    }
}

// ---- against the server and an SMTP server ------------------------------------------------------

class MailDialogs : public ServerGuiTest {
protected:
    void SetUp() override
    {
        ServerGuiTest::SetUp();
        ASSERT_TRUE(sink_.Start(root_.Dir())) << sink_.Errors();
    }
    void TearDown() override
    {
        ServerGuiTest::TearDown();
        memset(&SMTPSet, 0, sizeof SMTPSet);
        memset(&Recipient, 0, sizeof Recipient);
    }

    CMainWindow* StartLoggedIn(const std::string& user = "admin", uint32_t rights = 0xFFFFFFFFu)
    {
        EXPECT_TRUE(StartServer(raw::UserLine(user, "secret1", rights)));
        CMainWindow* win = StartMainWindow();
        LogInAs(user, "secret1");
        EXPECT_GE(handle, 0);
        EventNotification();
        return win;
    }

    // The messages the sink holds that carry text.
    std::vector<std::string> MailsWith(const std::string& text)
    {
        std::vector<std::string> out;
        for (const std::string& mail : sink_.Mails())
            if (mail.find(text) != std::string::npos)
                out.push_back(mail);
        return out;
    }

    static std::vector<std::string> Rows()
    {
        GtkWidget* list = GetMainWindow()->pRecipientList;
        std::vector<std::string> out;
        for (int r = 0; r < ColumnListRows(list); ++r)
            out.push_back(ColumnListText(list, r, 0) + "|" + ColumnListText(list, r, 1) + "|" +
                          ColumnListText(list, r, 2));
        return out;
    }

    static void SelectRow(int row) { ColumnListSelectRow(GetMainWindow()->pRecipientList, row); }

    // Runs a routine that opens a window, answered by the script; the windows seen.
    static std::vector<SeenWindow> Run(void (*open)(), std::vector<Answer> script)
    {
        Responder r(std::move(script));
        open();
        EXPECT_TRUE(r.WaitDone());
        return r.Seen();
    }

    static std::vector<std::string> Texts(const std::vector<SeenWindow>& seen, const std::string& title)
    {
        std::vector<std::string> out;
        for (const SeenWindow& w : seen)
            if (w.title == title)
                out.push_back(w.labels.front());
        return out;
    }

    static std::function<void(GtkWidget*)> Smtp(bool enable, const std::string& from, const std::string& server,
                                                const std::string& port)
    {
        return [=](GtkWidget*) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(SMTPSet.pEnableCheck), enable);
            gtk_entry_set_text(GTK_ENTRY(SMTPSet.pFromEntry), from.c_str());
            gtk_entry_set_text(GTK_ENTRY(SMTPSet.pServerEntry), server.c_str());
            gtk_entry_set_text(GTK_ENTRY(SMTPSet.pPortEntry), port.c_str());
        };
    }

    // What the SMTP dialog shows: enabled|from|server|port.
    static std::string Shown()
    {
        return std::string(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(SMTPSet.pEnableCheck)) ? "on" : "off") +
               "|" + gtk_entry_get_text(GTK_ENTRY(SMTPSet.pFromEntry)) + "|" +
               gtk_entry_get_text(GTK_ENTRY(SMTPSet.pServerEntry)) + "|" +
               gtk_entry_get_text(GTK_ENTRY(SMTPSet.pPortEntry));
    }

    static std::function<void(GtkWidget*)> Person(const std::string& address, const std::string& name,
                                                  uint8_t levels)
    {
        return [=](GtkWidget*) {
            if (gtk_widget_get_sensitive(Recipient.pAddressEntry))
                gtk_entry_set_text(GTK_ENTRY(Recipient.pAddressEntry), address.c_str());
            gtk_entry_set_text(GTK_ENTRY(Recipient.pNameEntry), name.c_str());
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pInfoCheck), (levels & 1) != 0);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pWarningCheck), (levels & 2) != 0);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Recipient.pErrorCheck), (levels & 4) != 0);
        };
    }

    // The toolbar rows Modify, Delete, Test: sensitive?
    static std::vector<bool> Tools()
    {
        std::vector<bool> out;
        for (int i = 2; i <= 4; ++i)
            out.push_back(gtk_widget_get_sensitive(EventNotiToolbar[i].button) != FALSE);
        return out;
    }

    SmtpSink sink_;
};

TEST_F(MailDialogs, SmtpSettingsSavedAndReadBack)
{
    StartLoggedIn();
    const std::string port = std::to_string(sink_.Port());
    const std::string badPort = "' is not a valid port.\nA port is a number from 1 to 65535.";
    auto seen = Run(SMTPServerSet,
                    {{kSetting, "OK",
                      [](GtkWidget* w) {
                          // No settings file yet: empty fields and the usual port.
                          EXPECT_EQ(Shown(), "off|||25");
                          Smtp(true, "raid@example.com", "127.0.0.1", "0")(w);
                      }},
                     {"Error", "OK"},
                     {kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", "65536")},
                     {"Error", "OK"},
                     {kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", "2x5")},
                     {"Error", "OK"},
                     {kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", "")},
                     {"Error", "OK"},
                     {kSetting, "OK", Smtp(true, "raid <raid@example.com>", "127.0.0.1", port)},
                     {"Warning", "OK"},
                     {kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", "0" + port)},
                     {"Confirmation", "OK"}});
    EXPECT_EQ(Texts(seen, "Error"), (std::vector<std::string>{"'0" + badPort, "'65536" + badPort, "'2x5" + badPort,
                                                              "'" + badPort}));
    EXPECT_EQ(Texts(seen, "Warning"), std::vector<std::string>{"Please enter a valid address of the sender!"});
    EXPECT_EQ(Texts(seen, "Confirmation"), std::vector<std::string>{"SMTP server setting has been saved."});
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].width, 380);
    EXPECT_EQ(seen[0].height, 180);

    _VTN_SMTP_SERVER_INFO want{};
    CopyText(want.host, "127.0.0.1");
    CopyText(want.sender, "raid@example.com");
    want.port = static_cast<uint16_t>(sink_.Port());
    const std::string file = ReadFileText(root_.Path("/etc/vtnmailset.dat"));
    ASSERT_EQ(file.size(), sizeof want);
    EXPECT_EQ(memcmp(file.data(), &want, sizeof want), 0);

    // Read back; OK without a change sends nothing and says nothing.
    seen = Run(SMTPServerSet, {{kSetting, "OK", [port](GtkWidget*) {
                                    EXPECT_EQ(Shown(), "on|raid@example.com|127.0.0.1|" + port);
                                }}});
    EXPECT_EQ(seen.size(), 1u);
    // Switched off: the flag is all that changes.
    seen = Run(SMTPServerSet, {{kSetting, "OK", Smtp(false, "raid@example.com", "127.0.0.1", port)},
                               {"Confirmation", "OK"}});
    want.flags = VTN_SMTP_NOTIFY_OFF;
    EXPECT_EQ(ReadFileText(root_.Path("/etc/vtnmailset.dat")), std::string(reinterpret_cast<char*>(&want), sizeof want));
    // Cancel keeps the file.
    Run(SMTPServerSet, {{kSetting, "Cancel", Smtp(true, "x@example.com", "10.0.0.1", "26")}});
    EXPECT_EQ(ReadFileText(root_.Path("/etc/vtnmailset.dat")), std::string(reinterpret_cast<char*>(&want), sizeof want));
    // The file gone behind the server's back: what the last load kept counts for nothing, and
    // the same settings typed again are saved.
    ASSERT_EQ(unlink(root_.Path("/etc/vtnmailset.dat").c_str()), 0);
    seen = Run(SMTPServerSet, {{kSetting, "OK",
                                [port](GtkWidget* w) {
                                    EXPECT_EQ(Shown(), "off|||25");
                                    Smtp(false, "raid@example.com", "127.0.0.1", port)(w);
                                }},
                               {"Confirmation", "OK"}});
    EXPECT_EQ(ReadFileText(root_.Path("/etc/vtnmailset.dat")), std::string(reinterpret_cast<char*>(&want), sizeof want));
    LogOut();
}

TEST_F(MailDialogs, RecipientsAddedModifiedDeletedAndMailed)
{
    StartLoggedIn();
    const std::string port = std::to_string(sink_.Port());
    Run(SMTPServerSet, {{kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", port)}, {"Confirmation", "OK"}});
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Tools(), (std::vector<bool>{false, false, false}));

    // Refused additions, each with its warning, the dialog staying open.
    struct Refused {
        const char* address;
        const char* name;
        const char* text;
    } refused[] = {
        {"", "Alice", kBadRecipient},
        {"alice.example.com", "Alice", kBadRecipient},
        {"alice@examplecom", "Alice", kBadRecipient},
        {"alice@example.com>\r\nRCPT TO:<x@example.com", "Alice", kBadRecipient},
        {"al ice@example.com", "Alice", kBadRecipient},
        {"alice@example.com", "", "Please enter the recipient name!"},
        {"alice@example.com", "Alice <boss>", "Please enter a valid name of the recipient!"},
    };
    std::vector<Answer> script;
    for (const Refused& r : refused) {
        script.push_back({kAddTitle, "OK", Person(r.address, r.name, 2)});
        script.push_back({"Warning", "OK"});
    }
    script.push_back({kAddTitle, "OK", Person("alice@example.com", "Alice", 2 | 4)});
    auto seen = Run(AddRecipient, script);
    std::vector<std::string> want;
    for (const Refused& r : refused)
        want.push_back(r.text);
    EXPECT_EQ(Texts(seen, "Warning"), want);
    EXPECT_EQ(seen[0].width, 250);
    EXPECT_EQ(seen[0].height, 200);
    EXPECT_EQ(Rows(), std::vector<std::string>{"Alice|alice@example.com|Warning,Error"});
    EXPECT_EQ(Tools(), (std::vector<bool>{true, true, true}));
    EXPECT_STREQ(Recipient.Selected.address, "alice@example.com");

    // The same address again is refused before the name is looked at.
    seen = Run(AddRecipient, {{kAddTitle, "OK", Person("alice@example.com", "", 1)},
                              {"Warning", "OK"},
                              {kAddTitle, "OK", Person("bob@example.com", "Bob", 1)}});
    EXPECT_EQ(Texts(seen, "Warning"), std::vector<std::string>{"This E-mail has been added."});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Alice|alice@example.com|Warning,Error",
                                                "Bob|bob@example.com|Information"}));

    // Modify shows the recipient, keeps its address; an empty name is refused.
    SelectRow(0);
    seen = Run(ModRecipient, {{kModifyTitle, "OK",
                               [](GtkWidget* w) {
                                   EXPECT_FALSE(gtk_widget_get_sensitive(Recipient.pAddressEntry));
                                   EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(Recipient.pAddressEntry)),
                                                "alice@example.com");
                                   EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(Recipient.pNameEntry)), "Alice");
                                   EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Recipient.pInfoCheck)));
                                   EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Recipient.pErrorCheck)));
                                   Person("", "", 0)(w);
                               }},
                              {"Warning", "OK"},
                              {kModifyTitle, "OK", Person("", "Alice Smith", 1 | 2)}});
    EXPECT_EQ(Texts(seen, "Warning"), std::vector<std::string>{"Please enter the recipient name!"});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Alice Smith|alice@example.com|Information,Warning",
                                                "Bob|bob@example.com|Information"}));
    _VTN_MAIL_RECIPIENT_INFO got{};
    ASSERT_EQ(cs_vtn_enum_mail_recipient(handle, &got, 0), 0);
    EXPECT_STREQ(got.name, "Alice Smith");
    EXPECT_EQ(got.flags, VTN_MAIL_IN_USE | VTN_MAIL_INFO | VTN_MAIL_WARNING);

    // A test mail that arrives.
    SelectRow(0);
    seen = Run(TestRecipient, {{"Confirmation", "OK"}});
    EXPECT_EQ(Texts(seen, "Confirmation"), std::vector<std::string>{"Mail has been sent successfully."});
    ASSERT_TRUE(PumpUntil([this] { return !MailsWith("This is a test mail.").empty(); }, 20000));
    const std::string mail = MailsWith("This is a test mail.").front();
    EXPECT_EQ(mail.rfind("MAIL FROM:<raid@example.com>\nRCPT TO:<alice@example.com>\n\n", 0), 0u) << mail;
    EXPECT_NE(mail.find("To: Alice Smith <alice@example.com>"), std::string::npos) << mail;

    // Delete: Cancel keeps Bob, OK takes him.
    SelectRow(1);
    seen = Run(DelRecipient, {{"Confirmation", "Cancel"}});
    EXPECT_EQ(Texts(seen, "Confirmation"),
              std::vector<std::string>{"Recipient 'bob@example.com' will be deleted,\n do you want to continue?"});
    EXPECT_EQ(Rows().size(), 2u);
    SelectRow(1);
    Run(DelRecipient, {{"Confirmation", "OK"}});
    EXPECT_EQ(Rows(), std::vector<std::string>{"Alice Smith|alice@example.com|Information,Warning"});

    // An address the server has but the list does not show yet: the server refuses it.
    _VTN_MAIL_RECIPIENT_INFO carol{};
    CopyText(carol.address, "carol@example.com");
    CopyText(carol.name, "Carol");
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &carol, VTN_RECIPIENT_ADD), 0);
    seen = Run(AddRecipient, {{kAddTitle, "OK", Person("carol@example.com", "Carol", 4)},
                              {"Error", "OK"},
                              {kAddTitle, "Cancel"}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to add the recipient."});

    // A recipient gone behind the list's back: changing or deleting it is an error.
    _VTN_MAIL_RECIPIENT_INFO alice{};
    CopyText(alice.address, "alice@example.com");
    SelectRow(0);
    ASSERT_STREQ(Recipient.Selected.address, "alice@example.com");
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &alice, VTN_RECIPIENT_DELETE), 0);
    seen = Run(ModRecipient, {{kModifyTitle, "OK", Person("", "Alice Jones", 1)},
                              {"Error", "OK"},
                              {kModifyTitle, "Cancel"}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to modify the recipient."});
    // The list was loaded again meanwhile: put the row back the way the user saw it.
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &alice, VTN_RECIPIENT_ADD), 0);
    LoadReceiver();
    SelectRow(0);
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &alice, VTN_RECIPIENT_DELETE), 0);
    seen = Run(DelRecipient, {{"Confirmation", "OK"}, {"Error", "OK"}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to delete the recipient."});
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &alice, VTN_RECIPIENT_ADD), 0);
    LoadReceiver();

    // A test mail that fails: the SMTP server is now a closed port.
    Run(SMTPServerSet, {{kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", std::to_string(FreeTcpPort()))},
                        {"Confirmation", "OK"}});
    SelectRow(0);
    seen = Run(TestRecipient, {{"Error", "OK"}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to send Mail."});

    // The last one deleted: nothing left to act on.
    LoadReceiver();
    while (!Rows().empty()) {
        SelectRow(0);
        Run(DelRecipient, {{"Confirmation", "OK"}});
    }
    EXPECT_EQ(Tools(), (std::vector<bool>{false, false, false}));
    LogOut();
}

// A row whose recipient went from the server behind the GUI's back: clicking it leaves nothing
// selected, so Modify, Delete and Test cannot act on the recipient selected before.
TEST_F(MailDialogs, ClickedRowOfARecipientGoneLeavesNothingToActOn)
{
    StartLoggedIn();
    Run(SMTPServerSet, {{kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", std::to_string(sink_.Port()))},
                        {"Confirmation", "OK"}});
    for (const char* who : {"alice", "bob"}) {
        _VTN_MAIL_RECIPIENT_INFO r{};
        CopyText(r.address, (std::string(who) + "@example.com").c_str());
        CopyText(r.name, who);
        r.flags = VTN_MAIL_ERROR;
        ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &r, VTN_RECIPIENT_ADD), 0);
    }
    LoadReceiver();
    ASSERT_EQ(Rows().size(), 2u);
    SelectRow(0);
    ASSERT_STREQ(Recipient.Selected.address, "alice@example.com");
    ASSERT_EQ(Tools(), (std::vector<bool>{true, true, true}));

    _VTN_MAIL_RECIPIENT_INFO bob{};
    CopyText(bob.address, "bob@example.com");
    ASSERT_EQ(cs_vtn_set_mail_recipients(handle, &bob, VTN_RECIPIENT_DELETE), 0);
    SelectRow(1);
    EXPECT_EQ(ColumnListSelectedRow(GetMainWindow()->pRecipientList), -1);
    EXPECT_STREQ(Recipient.Selected.address, "");
    EXPECT_EQ(Tools(), (std::vector<bool>{false, false, false}));

    // No dialog or box may open (one that does is a failure and is closed), and nothing is sent.
    const guint closer = g_timeout_add(20, [](gpointer) -> gboolean {
        if (GtkWidget* grab = gtk_grab_get_current()) {
            GtkWidget* top = gtk_widget_get_toplevel(grab);
            const char* title = GTK_IS_WINDOW(top) ? gtk_window_get_title(GTK_WINDOW(top)) : nullptr;
            ADD_FAILURE() << "opened: " << (title ? title : "?");
            gtk_widget_destroy(top);
        }
        return G_SOURCE_CONTINUE;
    }, nullptr);
    ModRecipient();
    DelRecipient();
    TestRecipient();
    g_source_remove(closer);
    _VTN_MAIL_RECIPIENT_INFO got{};
    ASSERT_EQ(cs_vtn_enum_mail_recipient(handle, &got, 0), 0);
    EXPECT_STREQ(got.address, "alice@example.com");
    EXPECT_STREQ(got.name, "alice");
    EXPECT_NE(cs_vtn_enum_mail_recipient(handle, &got, 1), 0);
    EXPECT_TRUE(MailsWith("This is a test mail.").empty());
    LogOut();
}

TEST_F(MailDialogs, WithoutTheMailRightEveryRequestIsAnError)
{
    StartLoggedIn("nomail", 0xFFFFFFFFu & ~0x200000u);
    auto seen = Run(SMTPServerSet, {{"Error", "OK"},
                                    {kSetting, "OK", Smtp(true, "raid@example.com", "127.0.0.1", "25")},
                                    {"Error", "OK"},
                                    {kSetting, "Cancel"}});
    EXPECT_EQ(Texts(seen, "Error"),
              (std::vector<std::string>{"Failed to get SMTP server setting.", "SMTP server setting is not saved."}));
    seen = Run(AddRecipient, {{kAddTitle, "OK", Person("a@example.com", "A", 1)}, {"Error", "OK"}, {kAddTitle, "Cancel"}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to add the recipient."});
    EXPECT_FALSE(FileExists(root_.Path("/etc/vtnmailset.dat")));
    LogOut();
}

}  // namespace
