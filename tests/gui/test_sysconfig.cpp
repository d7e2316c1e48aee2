// The System Configuration dialog against the real vtnsvr: the ports it shows, the texts it
// refuses, nothing sent without a change or without the confirmation, the configuration file
// written exactly, and a refused request.
#include <string>
#include <vector>

#include "dialogs/signfunc1.h"
#include "serverfixture.h"

namespace {

constexpr const char* kTitle = "System Configuration";
constexpr const char* kBadPort = "' is not a valid port.\nA port is a number from 1 to 65535.";
constexpr const char* kSamePorts = "System Port can't be the same as Event Port.";
constexpr const char* kChanged =
    "System configuration changed, but it will not take effect\n until you restart the service.";

class SysConfigDialog : public ServerGuiTest {
protected:
    void TearDown() override
    {
        ServerGuiTest::TearDown();
        SysConfig = {};
    }

    std::string Ini() const { return ReadFileText(root_.Path("/etc/vtn.ini")); }

    static std::function<void(GtkWidget*)> Ports(const std::string& system, const std::string& event)
    {
        return [=](GtkWidget*) {
            gtk_entry_set_text(GTK_ENTRY(SysConfig.pSystemPortEntry), system.c_str());
            gtk_entry_set_text(GTK_ENTRY(SysConfig.pEventPortEntry), event.c_str());
        };
    }

    static std::vector<std::string> Texts(const Responder& r, const std::string& title)
    {
        std::vector<std::string> out;
        for (const SeenWindow& w : r.Seen())
            if (w.title == title)
                out.push_back(w.labels.front());
        return out;
    }
};

TEST_F(SysConfigDialog, RefusedTextsUnchangedPortsAndTheFileWritten)
{
    ASSERT_TRUE(StartServer(raw::UserLine("admin", "secret1", 0xFFFFFFFFu)));
    StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    const std::string port = std::to_string(server_->Port()), eventPort = std::to_string(server_->EventPort());
    const std::string before = Ini();

    // Refused texts keep the dialog open with what was typed; the same port as a number is the same.
    const struct {
        std::string system, event, error;
    } refused[] = {
        {"7500", "7500", kSamePorts},
        {"7500", "07500", kSamePorts},
        {"", "7501", std::string("'") + kBadPort},
        {"0", "7501", std::string("'0") + kBadPort},
        {"7500", "65536", std::string("'65536") + kBadPort},
        {"75x0", "7501", std::string("'75x0") + kBadPort},
        {" 7500", "7501", std::string("' 7500") + kBadPort},
    };
    {
        std::vector<Answer> script{{kTitle, "OK", [&](GtkWidget* w) {
                                        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(SysConfig.pSystemPortEntry)),
                                                     port.c_str());
                                        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(SysConfig.pEventPortEntry)),
                                                     eventPort.c_str());
                                        EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(SysConfig.pEventPortEntry)), 8);
                                        Ports(refused[0].system, refused[0].event)(w);
                                    }}};
        for (size_t i = 0; i < std::size(refused); ++i) {
            script.push_back({"Error", "OK"});
            if (i + 1 < std::size(refused))
                script.push_back({kTitle, "OK", Ports(refused[i + 1].system, refused[i + 1].event)});
        }
        // Texts that name the ports already in use: nothing is sent.
        script.push_back({kTitle, "OK", Ports("0" + port, eventPort)});
        Responder r(script);
        SetSysConfig();
        ASSERT_TRUE(r.WaitDone());
        std::vector<std::string> errors;
        for (const auto& c : refused)
            errors.push_back(c.error);
        EXPECT_EQ(Texts(r, "Error"), errors);
        EXPECT_EQ(r.Seen()[0].width, 380);
        EXPECT_EQ(r.Seen()[0].height, 120);
        EXPECT_EQ(Texts(r, "Confirmation").size(), 0u);
    }
    EXPECT_EQ(Ini(), before);

    // The question answered Cancel: nothing is sent.
    {
        Responder r({{kTitle, "OK", Ports("7500", "7501")}, {"Confirmation", "Cancel"}});
        SetSysConfig();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(Texts(r, "Confirmation"), std::vector<std::string>{"Are you sure to change the system configuration?"});
    }
    EXPECT_EQ(Ini(), before);

    // Written for the next start; where the server has no file, it shows the ports in use.
    const struct {
        bool removeFile;
        std::string shown, system, event, file;
    } writes[] = {
        {false, port, "7500", "07501", "serverport\t7500\neventport\t7501\n"},
        {true, port, "7502", "7503", "serverport\t7502\neventport\t7503\n"},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.file);
        if (w.removeFile) {
            ASSERT_EQ(unlink(root_.Path("/etc/vtn.ini").c_str()), 0);
        }
        Responder r({{kTitle, "OK",
                      [&w](GtkWidget* window) {
                          EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(SysConfig.pSystemPortEntry)), w.shown);
                          Ports(w.system, w.event)(window);
                      }},
                     {"Confirmation", "OK"},
                     {"Confirmation", "OK"}});
        SetSysConfig();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(Texts(r, "Confirmation"),
                  (std::vector<std::string>{"Are you sure to change the system configuration?", kChanged}));
        EXPECT_EQ(Ini(), w.file);
    }
    LogOut();
}

TEST_F(SysConfigDialog, WithoutTheRightTheChangeIsAnError)
{
    ASSERT_TRUE(StartServer(raw::UserLine("viewer", "secret1", 0xFFFFFFFFu & ~0x10000000u)));
    CMainWindow* win = StartMainWindow();
    LogInAs("viewer", "secret1");
    ASSERT_GE(handle, 0);
    EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem("/File/System Configuration")));
    const std::string before = Ini();
    Responder r({{kTitle, "OK", Ports("7500", "7501")},
                 {"Confirmation", "OK"},
                 {"Error", "OK"},
                 {kTitle, "Cancel",
                  [](GtkWidget*) {
                      EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(SysConfig.pSystemPortEntry)), "7500");
                  }}});
    SetSysConfig();
    ASSERT_TRUE(r.WaitDone());
    EXPECT_EQ(Texts(r, "Error"), std::vector<std::string>{"Failed to change the system configuration."});
    EXPECT_EQ(Ini(), before);
    EXPECT_EQ(SysConfig.pSystemPortEntry, nullptr);
    LogOut();
}

}  // namespace
