// Pictures for a person to look at: the user, privilege and password dialogs, the mail dialogs and
// the recipients list, the System Configuration dialog, the About box and the icon legend, with the
// server's answers faked (set VTN_SCREENSHOT_DIR to keep them). They read back what the screen
// shows, so they run on a display of their own: VTN_OWN_DISPLAY
#include <string>
#include <vector>

#include "client.h"
#include "dialogs/signfunc1.h"
#include "dialogs/signfunc_users.h"
#include "drivergui_list.h"
#include "harness.h"
#include "textutil.h"
#include "vtnstatus.h"

namespace {

_VTN_USER_INFO User(const char* name, uint32_t rights, uint32_t flags = VTN_USER_VALID)
{
    _VTN_USER_INFO u{};
    CopyText(u.name, name);
    u.rights = rights;
    u.flags = flags;
    return u;
}

_VTN_MAIL_RECIPIENT_INFO Person(const char* address, const char* name, uint8_t flags)
{
    _VTN_MAIL_RECIPIENT_INFO r{};
    CopyText(r.address, address);
    CopyText(r.name, name);
    r.flags = static_cast<uint8_t>(flags | VTN_MAIL_IN_USE);
    return r;
}

class DialogScreens : public GuiTest {
protected:
    // A window logged in as admin, the server's answers made up.
    CMainWindow* StartFaked()
    {
        gFuncs.disconnect_system = [](int) -> int { return 0; };
        gFuncs.enum_user = [](int, _VTN_USER_INFO* u, int i) -> int {
            const _VTN_USER_INFO users[] = {User("admin", 0xFFFFFFFFu), User("operator", 0x1 | 0x8 | 0x10 | 0x30000),
                                            User("root", 0x10, VTN_USER_VALID | VTN_USER_SYSTEM),
                                            User("night-shift", 0x800000)};
            if (i < 0 || i >= 4)
                return static_cast<int>(VTN_NO_MORE_ENTRIES);
            *u = users[i];
            return 0;
        };
        gFuncs.get_smtp_server = [](int, _VTN_SMTP_SERVER_INFO* s) -> int {
            *s = {};
            CopyText(s->host, "mail.example.com");
            CopyText(s->sender, "raid@example.com");
            s->port = 25;
            return 0;
        };
        gFuncs.enum_mail_recipient = [](int, _VTN_MAIL_RECIPIENT_INFO* r, int i) -> int {
            const _VTN_MAIL_RECIPIENT_INFO list[] = {Person("admin@example.com", "Administrator", 7),
                                                     Person("oncall@example.com", "On call", 6),
                                                     Person("reports@example.com", "Reports", 1)};
            if (i < 0 || i >= 3)
                return static_cast<int>(VTN_NO_MORE_ENTRIES);
            *r = list[i];
            return 0;
        };
        gFuncs.get_server_param = [](int, _CS_ALTERABLE_SERVER_PARAM* p) -> int {
            *p = {VTN_PARAM_SERVER_PORT | VTN_PARAM_EVENT_PORT, 7402, 7403, 0};
            return 0;
        };
        CMainWindow* win = StartMainWindow();
        // No tick may ask the made-up connection for events.
        g_source_remove(win->nTimerSource);
        win->nTimerSource = 0;
        handle = 0;
        win->bLoggedIn = true;
        win->UserInfo = User("admin", 0xFFFFFFFFu);
        return win;
    }
    void TearDown() override
    {
        handle = -1;
        GuiTest::TearDown();
        memset(&UserMan, 0, sizeof UserMan);
        memset(&AddUser, 0, sizeof AddUser);
        memset(&SetPass, 0, sizeof SetPass);
        memset(&SMTPSet, 0, sizeof SMTPSet);
        memset(&Recipient, 0, sizeof Recipient);
    }

    static std::function<void(GtkWidget*)> Shot(const std::string& file,
                                                std::function<void(GtkWidget*)> first = nullptr)
    {
        return ShotAnswer(file, std::move(first));
    }
};

TEST_F(DialogScreens, UserDialogs)
{
    StartFaked();
    auto selectOperator = [](GtkWidget*) { ColumnListSelectRow(UserMan.pUserList, 1); };
    auto typeUser = [](GtkWidget*) {
        gtk_entry_set_text(GTK_ENTRY(AddUser.pNewNameEntry), "backup-operator");
        gtk_entry_set_text(GTK_ENTRY(AddUser.pNewPassEntry), "secret");
        gtk_entry_set_text(GTK_ENTRY(AddUser.pNewConfirmEntry), "secret");
    };
    Responder r({{"User Management", "Add", Shot("dialog-users.png", selectOperator)},
                 {"Add New User", "Cancel", Shot("dialog-add-user.png", typeUser)},
                 {"User Management", "Privilege", selectOperator},
                 {"User Privilege View", "Cancel", Shot("dialog-privilege.png")},
                 {"User Management", "Password", selectOperator},
                 {"Please enter new password", "Cancel", Shot("dialog-password-user.png")},
                 {"User Management", "OK"},
                 {"Please enter new password", "Cancel", Shot("dialog-password-own.png")}});
    UserManageMent();
    SetCurrentPass();
    ASSERT_TRUE(r.WaitDone());
}

TEST_F(DialogScreens, MailConfigurationAndAbout)
{
    CMainWindow* win = StartFaked();
    gtk_window_resize(GTK_WINDOW(win->pWindow), 640, 360);
    EventNotification();
    ASSERT_EQ(ColumnListRows(win->pRecipientList), 3);
    ExpectShot(win->pWindow, "main-event-notification-rows.png");
    Responder r({{"E-mail notification setting", "Cancel", Shot("dialog-smtp.png")},
                 {"Add recipient", "Cancel", Shot("dialog-recipient-add.png")},
                 {"Modify recipient", "Cancel", Shot("dialog-recipient-modify.png")},
                 {"System Configuration", "Cancel", Shot("dialog-sysconfig.png")},
                 {"About", "OK", Shot("dialog-about.png")}});
    SMTPServerSet();
    AddRecipient();
    ModRecipient();
    SetSysConfig();
    AboutBox();
    ASSERT_TRUE(r.WaitDone());
}

TEST_F(DialogScreens, BoxesWithTheLongestTexts)
{
    StartMainWindow();
    const struct {
        const char* text;
        const char* title;
        const char* file;
    } boxes[] = {
        {"Can NOT find a Web browser to view the help!\nTo view help, please make the symbol link\n /usr/bin/rudevoz "
         "to your browser manually.",
         "Warning", "box-help-missing.png"},
        {"System configuration changed, but it will not take effect\n until you restart the service.", "Confirmation",
         "box-config-changed.png"},
        {"The user name can not contain ':', a TAB or a line end,\nbegin or end with a blank, begin with '#'\nor be longer than 63 bytes.", "Warning",
         "box-user-name.png"},
    };
    for (const auto& b : boxes) {
        Responder r(std::vector<Answer>{{b.title, "OK", Shot(b.file)}});
        MessageBox(b.text, b.title, false);
        ASSERT_TRUE(r.WaitDone());
    }
}

TEST_F(DialogScreens, IconLegend)
{
    CMainWindow* win = StartMainWindow();
    // The whole legend, all of it on the screen.
    gtk_window_move(GTK_WINDOW(win->pWindow), 0, 0);
    gtk_window_resize(GTK_WINDOW(win->pWindow), 760, 860);
    IconView();
    ExpectShot(win->pWindow, "main-icon-legend.png");
}

}  // namespace
