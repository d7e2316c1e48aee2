// CVTNTree: the view object behind each device form, a device tree beside the information page.
#pragma once
#include <gtk/gtk.h>

class CVTNTree {
public:
    CVTNTree();
    ~CVTNTree();
    CVTNTree(const CVTNTree&) = delete;
    CVTNTree& operator=(const CVTNTree&) = delete;

    // 0 the logical tree, 1 the controller tree, 2 both (whichever the object has).
    void FreshTree(int mode);

    GtkWidget* pLogicalTree;
    GtkWidget* pControllerTree;
    GtkWidget* pDrawArea;
    cairo_surface_t* pBackPixmap;
    cairo_surface_t* pTilePixmap;
    GdkEventConfigure* pLastConfigure;
    GtkWidget* pProgressBar;
    GtkWidget* pWriteCacheBtn;
    GtkWidget* pReadAheadBtn;
    GtkWidget* pTCQBtn;
    GtkWidget* pNCQBtn;
};
