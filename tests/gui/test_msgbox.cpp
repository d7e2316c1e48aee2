// The message box (icons by title, answers, the close box, a box opened inside another's wait,
// no main window) and the icon-item and captioned-button builders.
#include <string>
#include <vector>

#include "harness.h"
#include "xpm_data.h"

namespace {

using MessageBoxTest = GuiTest;

struct BoxCase {
    const char* title;
    bool withCancel;
    const char* answer;  // button caption; "": the close box
    int result;
    const char** icon;
};

const BoxCase kBoxCases[] = {
    {"Error", false, "OK", 1, xpm_d_Error},
    {"Error", false, "", 1, xpm_d_Error},
    {"Critical error", false, "OK", 1, xpm_d_Error},
    {"Warning", true, "OK", 1, xpm_d_Warning},
    {"Warning", true, "Cancel", 0, xpm_d_Warning},
    {"Warning", false, "", 1, xpm_d_Warning},
    {"Confirmation", true, "", 0, xpm_d_Normal},
    {"Confirmation", true, "OK", 1, xpm_d_Normal},
    {"Information", false, "OK", 1, xpm_d_Lamp},
    {"RAID Checking", true, "Cancel", 0, xpm_d_Lamp},
    {"", false, "", 1, xpm_d_Lamp},
};

void RunBoxCases(CMainWindow* win)
{
    for (const BoxCase& c : kBoxCases) {
        SCOPED_TRACE(std::string(c.title) + " / " + (*c.answer ? c.answer : "close box"));
        struct Layout {
            int okX = -1, cancelX = -1, width = 0, okRight = 0;
            bool transient = false;
        } layout;
        Responder r({{c.title, c.answer, [&layout, win](GtkWidget* w) {
                          layout.width = gtk_widget_get_allocated_width(w);
                          layout.transient = win && gtk_window_get_transient_for(GTK_WINDOW(w)) == GTK_WINDOW(win->pWindow);
                          for (GtkWidget* b : FindWidgets(w, [](GtkWidget* x) { return GTK_IS_BUTTON(x); })) {
                              int x = 0, y = 0;
                              gtk_widget_translate_coordinates(b, w, 0, 0, &x, &y);
                              if (WidgetCaption(b) == "OK") {
                                  layout.okX = x;
                                  layout.okRight = x + gtk_widget_get_allocated_width(b);
                              } else {
                                  layout.cancelX = x;
                              }
                          }
                      }}});
        EXPECT_EQ(MessageBox("Some text.", c.title, c.withCancel), c.result);
        ASSERT_EQ(r.Seen().size(), 1u);
        const SeenWindow& seen = r.Seen()[0];
        EXPECT_EQ(seen.title, c.title);
        std::vector<std::string> buttons = {"OK"};
        if (c.withCancel)
            buttons.push_back("Cancel");
        EXPECT_EQ(seen.buttons, buttons);
        ASSERT_FALSE(seen.images.empty());
        EXPECT_EQ(seen.images[0], XpmPixbuf(c.icon));
        EXPECT_EQ(seen.width, 410);
        EXPECT_EQ(seen.height, 180);
        EXPECT_EQ(layout.transient, win != nullptr);
        if (c.withCancel) {
            EXPECT_LT(layout.okX, layout.cancelX);
            EXPECT_LT(layout.okX, layout.width / 2);
        } else {
            EXPECT_GT(layout.okX, layout.width / 2);
            EXPECT_GE(layout.width - layout.okRight, 20);
        }
    }
}

TEST_F(MessageBoxTest, TitlesPickIconsAndButtonsAnswer)
{
    RunBoxCases(StartMainWindow());
}

TEST_F(MessageBoxTest, WorksBeforeTheMainWindowExists)
{
    RunBoxCases(nullptr);
}

TEST_F(MessageBoxTest, ABoxOpenedInsideAnotherBoxsWaitIsAnsweredFirst)
{
    StartMainWindow();
    static int inner;
    inner = -1;
    // As the timer does: a box from a source that fires while the outer box waits.
    g_timeout_add(30, [](gpointer) -> gboolean {
        inner = MessageBox("Inner box", "Warning", true);
        return G_SOURCE_REMOVE;
    }, nullptr);
    Responder r({{"Warning", "Cancel"}, {"Error", "OK"}});
    EXPECT_EQ(MessageBox("Outer box", "Error", false), 1);
    EXPECT_EQ(inner, 0);
    ASSERT_EQ(r.Seen().size(), 2u);
    EXPECT_EQ(r.Seen()[0].title, "Warning");
    EXPECT_EQ(r.Seen()[1].title, "Error");
}

TEST_F(MessageBoxTest, ALongTextWrapsInsideTheBox)
{
    StartMainWindow();
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "A long sentence about an array. ";
    int width = 0;
    Responder r({{"Warning", "OK", [&width](GtkWidget* w) { width = gtk_widget_get_allocated_width(w); }}});
    EXPECT_EQ(MessageBox(text.c_str(), "Warning", false), 1);
    EXPECT_LE(width, 480);
    EXPECT_GE(width, 410);
}

// Texts that would make the box wider or taller than the screen: it stays on the screen, its OK
// is clicked there with the real pointer, and an ordinary text keeps the box at 410 x 180.
TEST_F(MessageBoxTest, LongWordsAndManyLinesKeepTheBoxAndItsButtonsOnTheScreen)
{
    StartMainWindow();
    std::string lines;
    for (int i = 0; i < 120; ++i)
        lines += "Disk " + std::to_string(i) + " of the array has failed.\n";
    struct Case {
        const char* what;
        std::string text;
        bool withCancel;
        const char* shot;
        bool ordinary;  // the box keeps its 410 x 180
        bool scrolled;  // the rest of the text is reached by scrolling
    } cases[] = {
        {"an ordinary text", "Some text.", false, "msgbox-ordinary.png", true, false},
        {"an event text of 511 characters without a blank", std::string(511, 'x'), false, "msgbox-long-word.png",
         false, false},
        {"a 199-character address", "System '" + std::string(199, 'a') + "' will be deleted,\n do you want to continue?",
         true, "msgbox-long-address.png", false, false},
        {"511 line ends", std::string(511, '\n'), true, "msgbox-line-ends.png", false, true},
        {"120 lines of words", lines, false, "msgbox-many-lines.png", false, true},
    };
    const GdkRectangle screen = ScreenArea();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GdkRectangle box{}, ok{};
        bool scrolls = false;
        Responder r({{"Warning", "OK",
                      [&](GtkWidget* w) {
                          // The picture waits until the window has its final size.
                          ExpectShot(w, c.shot);
                          box = ScreenRect(w);
                          for (GtkWidget* b : FindWidgets(w, [](GtkWidget* x) { return GTK_IS_BUTTON(x); }))
                              if (WidgetCaption(b) == "OK")
                                  ok = ScreenRect(b);
                          for (GtkWidget* s : FindWidgets(w, [](GtkWidget* x) { return GTK_IS_SCROLLED_WINDOW(x); })) {
                              GtkAdjustment* a = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(s));
                              scrolls = scrolls || gtk_adjustment_get_upper(a) > gtk_adjustment_get_page_size(a);
                          }
                      },
                      nullptr, true}},
                    10000);
        // Only the real click answers OK: a box the watchdog has to close answers Cancel.
        EXPECT_EQ(MessageBox(c.text.c_str(), "Warning", c.withCancel), 1);
        ASSERT_EQ(r.Seen().size(), 1u);
        EXPECT_EQ(r.Seen()[0].width, 410);
        EXPECT_EQ(r.Seen()[0].height, 180);
        if (c.ordinary) {
            EXPECT_EQ(box.width, 410);
            EXPECT_EQ(box.height, 180);
        }
        for (const GdkRectangle& rect : {box, ok}) {
            EXPECT_GE(rect.x, screen.x);
            EXPECT_GE(rect.y, screen.y);
            EXPECT_LE(rect.x + rect.width, screen.x + screen.width);
            EXPECT_LE(rect.y + rect.height, screen.y + screen.height);
        }
        EXPECT_GT(ok.width, 0);
        EXPECT_EQ(scrolls, c.scrolled);
    }
}

TEST_F(MessageBoxTest, TextThatIsNotUtf8IsShownValid)
{
    Responder r(std::vector<Answer>{{"Error", "OK"}});
    EXPECT_EQ(MessageBox("Disk \xff\xfe failed", "Error", false), 1);
    ASSERT_EQ(r.Seen().size(), 1u);
    bool found = false;
    for (const auto& l : r.Seen()[0].labels)
        if (l.find("Disk ") == 0) {
            found = true;
            EXPECT_TRUE(g_utf8_validate(l.c_str(), -1, nullptr));
        }
    EXPECT_TRUE(found);
}

TEST_F(MessageBoxTest, SelectHandlersSetTheWindowsAnswer)
{
    GtkWidget* w = NewDialogWindow("Answer", 100, 50, 5, false);
    _DIALOG_DATA rec{0, 0};
    g_object_set_data(G_OBJECT(w), "DATA", &rec);
    yes_mselect(w);
    EXPECT_EQ(rec.value, 1);
    EXPECT_EQ(rec.done, 1);
    no_mselect(w);
    EXPECT_EQ(rec.value, 0);
    EXPECT_EQ(rec.done, 1);
    // A window without a record is left alone.
    GtkWidget* bare = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    yes_mselect(bare);
    no_mselect(nullptr);
    gtk_widget_destroy(bare);
    // A window destroyed while it is waited on ends the wait.
    g_timeout_add(20, [](gpointer win) -> gboolean {
        gtk_widget_destroy(GTK_WIDGET(win));
        return G_SOURCE_REMOVE;
    }, w);
    gtk_widget_show(w);
    EXPECT_EQ(DialogWait(w, &rec), 0);
}

TEST_F(MessageBoxTest, RunDialogEndsWhenItsOkHandlerDestroysTheWindowAndAnswersFalse)
{
    StartMainWindow();
    GtkWidget* w = NewDialogWindow("Run", 200, 80, 5, false);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_add(GTK_CONTAINER(w), box);
    PackOkCancel(box, w);
    gtk_widget_show_all(w);
    int calls = 0;
    Responder r(std::vector<Answer>{{"Run", "OK"}});
    EXPECT_EQ(RunDialog(w, [w, &calls] {
        ++calls;
        gtk_widget_destroy(w);
        return false;
    }), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(TopWindows("Run").empty());
}

TEST_F(MessageBoxTest, XpmItemsByKind)
{
    struct Case {
        int kind;
        GType type;
        const char** xpm;
    } cases[] = {{0, GTK_TYPE_BUTTON, xpm_d_Yes},         {1, GTK_TYPE_EXPANDER, xpm_d_priviselect},
                 {2, GTK_TYPE_LIST_BOX_ROW, xpm_d_Disk}, {3, GTK_TYPE_MENU_ITEM, xpm_d_addhost},
                 {0, GTK_TYPE_BUTTON, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        GtkWidget* item = InsertXPMItem("Caption", c.xpm, c.kind);
        g_object_ref_sink(item);
        EXPECT_TRUE(G_TYPE_CHECK_INSTANCE_TYPE(item, c.type));
        EXPECT_FALSE(gtk_widget_get_visible(item));
        auto labels = FindWidgets(item, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
        ASSERT_EQ(labels.size(), 1u);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels[0])), "Caption");
        EXPECT_TRUE(gtk_widget_get_visible(labels[0]));
        auto images = FindWidgets(item, [](GtkWidget* w) { return GTK_IS_IMAGE(w); });
        ASSERT_EQ(images.size(), c.xpm ? 1u : 0u);
        if (c.xpm) {
            EXPECT_EQ(gtk_image_get_pixbuf(GTK_IMAGE(images[0])), XpmPixbuf(c.xpm));
            EXPECT_TRUE(gtk_widget_get_visible(images[0]));
        }
        gtk_widget_destroy(item);
        g_object_unref(item);
    }
}

TEST_F(MessageBoxTest, CreateButtonPadsItsCaption)
{
    for (const char* caption : {"Clear", "Save", "", "<<Back"}) {
        GtkWidget* b = CreateButton(caption);
        g_object_ref_sink(b);
        EXPECT_TRUE(gtk_widget_get_visible(b));
        auto labels = FindWidgets(b, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
        ASSERT_EQ(labels.size(), 1u);
        EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(labels[0]))), std::string("  ") + caption + "  ");
        gtk_widget_destroy(b);
        g_object_unref(b);
    }
}

}  // namespace
