#include "vtntree.h"

CVTNTree::CVTNTree()
    : pLogicalTree(nullptr), pControllerTree(nullptr), pDrawArea(nullptr), pBackPixmap(nullptr),
      pTilePixmap(nullptr), pLastConfigure(nullptr), pProgressBar(nullptr), pWriteCacheBtn(nullptr),
      pReadAheadBtn(nullptr), pTCQBtn(nullptr), pNCQBtn(nullptr)
{
}

CVTNTree::~CVTNTree() = default;

void CVTNTree::FreshTree(int)
{
}
