// CCreateArray: the RAID creation wizard. One object, CreateArrayForm, keeps the values entered
// between the wizard's steps.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>

class CCreateArray {
public:
    CCreateArray();
    ~CCreateArray() = default;
    CCreateArray(const CCreateArray&) = delete;
    CCreateArray& operator=(const CCreateArray&) = delete;

    // Opens step 1.
    void CreateRAIDStep1();

    GtkWidget* pWizard;
    uint8_t bKeepValues;  // 1: opening step 1 keeps the values entered so far
};

extern CCreateArray CreateArrayForm;
CCreateArray* GetCreateArray();
