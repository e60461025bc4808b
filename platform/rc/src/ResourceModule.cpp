#include "tap/res/ResourceModule.h"

namespace tap::res {
namespace {

template <typename Resource>
const Resource* FindById(const Resource* first, size_t count, uint16_t id)
{
    for (size_t i = 0; i < count; ++i) {
        if (first[i].id == id) {
            return &first[i];
        }
    }
    return nullptr;
}

} // namespace

const DialogTemplate* ResourceModule::FindDialog(uint16_t id) const
{
    return FindById(dialogs, dialogCount, id);
}

const StringResource* ResourceModule::FindString(uint16_t id) const
{
    return FindById(strings, stringCount, id);
}

const FileResource* ResourceModule::FindIcon(uint16_t id) const
{
    return FindById(icons, iconCount, id);
}

const FileResource* ResourceModule::FindBitmap(uint16_t id) const
{
    return FindById(bitmaps, bitmapCount, id);
}

const FileResource* ResourceModule::FindDialogInit(uint16_t id) const
{
    return FindById(dialogInits, dialogInitCount, id);
}

} // namespace tap::res
