#include "createarray.h"

CCreateArray CreateArrayForm;

CCreateArray* GetCreateArray()
{
    return &CreateArrayForm;
}

CCreateArray::CCreateArray() : pWizard(nullptr), bKeepValues(0)
{
}

void CCreateArray::CreateRAIDStep1()
{
}
