#include "ProgItem.h"

#include <new>

std::unique_ptr<ProgItem> ProgItem::Create(std::wstring path)
{
    static ULONGLONG lastId = 0; // entries are made on the window thread only
    ProgItem* item = new (std::nothrow) ProgItem(std::move(path), lastId + 1);
    if (!item)
        return nullptr;
    ++lastId;
    return std::unique_ptr<ProgItem>(item);
}
