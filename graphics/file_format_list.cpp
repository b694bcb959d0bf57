#include "graphics/file_format_list.h"

#include <algorithm>
#include <strings.h>

#include "graphics/errors.h"
#include "graphics/picture.h"

TFileFormatList::TFileFormatList(TFileFormatsList& pictureTable) : pictureTable_(pictureTable) {}

TFileFormatList::~TFileFormatList() { ClearFormats(); }

int TFileFormatList::IndexOfExtension(const std::string& extension) const {
    if (extension.empty()) return -1;
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (strcasecmp(extensions_[i]->extension.c_str(), extension.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

int TFileFormatList::IndexOfClass(TGraphicClass graphicClass) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i]->graphicClass == graphicClass) return static_cast<int>(i);
    return -1;
}

void TFileFormatList::AddFormat(const std::string& extension, const std::string& commonDescription,
                                const std::string& individualDescription, FormatKinds kinds, bool replace,
                                TGraphicClass graphicClass) {
    if (extension.empty()) return;
    const int e = IndexOfExtension(extension);
    const int c = IndexOfClass(graphicClass);
    // Held by address: dropping the old class entry below shifts the indices.
    ClassEntry* existing = c == -1 ? nullptr : classes_[static_cast<size_t>(c)].get();
    ExtensionEntry* entry = nullptr;
    if (e == -1) {
        extensions_.push_back(std::make_unique<ExtensionEntry>(ExtensionEntry{extension, individualDescription, kinds, nullptr}));
        entry = extensions_.back().get();
    } else if (!replace) {
        throw EInvalidGraphic(FormatMessage("Attempt to register %s twice.", extension.c_str()));
    } else {
        entry = extensions_[static_cast<size_t>(e)].get();
        if (entry->classEntry->graphicClass == graphicClass) return;
        ClassEntry* old = entry->classEntry;
        if (--old->count == 0) DropClassEntry(old);
    }
    ClassEntry* target = existing;
    if (!target) {
        classes_.push_back(std::make_unique<ClassEntry>(ClassEntry{graphicClass, std::string(), 0}));
        target = classes_.back().get();
    }
    if (!commonDescription.empty()) target->description = commonDescription;
    ++target->count;
    entry->classEntry = target;
    pictureTable_.AddPictureFormat(extension, individualDescription.empty() ? target->description : individualDescription,
                                   graphicClass);
}

void TFileFormatList::DropClassEntry(ClassEntry* entry) {
    std::erase_if(classes_, [entry](const std::unique_ptr<ClassEntry>& c) { return c.get() == entry; });
}

void TFileFormatList::RemoveFormat(const std::string& extension, TGraphicClass graphicClass) {
    if (!extension.empty()) {
        const int e = IndexOfExtension(extension);
        if (e == -1) return;
        ClassEntry* owner = extensions_[static_cast<size_t>(e)]->classEntry;
        if (--owner->count == 0) {
            pictureTable_.RemovePictureClass(owner->graphicClass);
            DropClassEntry(owner);
        }
        extensions_.erase(extensions_.begin() + e);
        return;
    }
    const int c = IndexOfClass(graphicClass);
    if (c == -1) throw EInvalidGraphic(FormatMessage("Class %s is not registered", graphicClass->name));
    ClassEntry* owner = classes_[static_cast<size_t>(c)].get();
    for (int i = static_cast<int>(extensions_.size()) - 1; i >= 0 && owner->count > 0; --i) {
        if (extensions_[static_cast<size_t>(i)]->classEntry != owner) continue;
        --owner->count;
        extensions_.erase(extensions_.begin() + i);
    }
    DropClassEntry(owner);
    pictureTable_.RemovePictureClass(graphicClass);
}

void TFileFormatList::ClearFormats() {
    for (const auto& c : classes_) pictureTable_.RemovePictureClass(c->graphicClass);
    classes_.clear();
    extensions_.clear();
}

TFileFormatList& FileFormatList() {
    static TFileFormatList list(PictureFormatTable());
    return list;
}
