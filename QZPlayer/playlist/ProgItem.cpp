#include "ProgItem.h"

#include <cwchar>
#include <new>

ProgItem* ProgItem::Create(LPCWSTR path)
{
    if (!path)
        return nullptr;
    ProgItem* item = new (std::nothrow) ProgItem;
    if (!item)
        return nullptr;
    const size_t length = wcslen(path);
    item->pszUrl = new (std::nothrow) wchar_t[length + 1];
    if (!item->pszUrl) {
        delete item;
        return nullptr;
    }
    wmemcpy(item->pszUrl, path, length + 1);
    static ULONGLONG lastId = 0; // entries are made on the window thread only
    item->id = ++lastId;
    return item;
}
