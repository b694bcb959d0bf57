#pragma once
// The readers' own list of formats: extension entries that share class entries. Every
// registration also reaches the picture format table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/graphic.h"

enum FormatKind : uint8_t { fkLayered = 1 << 1, fkMultiImage = 1 << 2, fkRaster = 1 << 3, fkVector = 1 << 4 };
using FormatKinds = uint8_t;

class TFileFormatsList;

class TFileFormatList {
public:
    struct ClassEntry {
        TGraphicClass graphicClass;
        std::string description;
        uint32_t count = 0;
    };
    struct ExtensionEntry {
        std::string extension;
        std::string description;
        FormatKinds kinds = 0;
        ClassEntry* classEntry = nullptr;
    };

    explicit TFileFormatList(TFileFormatsList& pictureTable);
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    int IndexOfExtension(const std::string& extension) const;
    int IndexOfClass(TGraphicClass graphicClass) const;
    void AddFormat(const std::string& extension, const std::string& commonDescription,
                   const std::string& individualDescription, FormatKinds kinds, bool replace,
                   TGraphicClass graphicClass);
    void RemoveFormat(const std::string& extension, TGraphicClass graphicClass);
    void ClearFormats();

    const std::vector<std::unique_ptr<ExtensionEntry>>& Extensions() const { return extensions_; }
    const std::vector<std::unique_ptr<ClassEntry>>& Classes() const { return classes_; }

private:
    void DropClassEntry(ClassEntry* entry);

    TFileFormatsList& pictureTable_;
    std::vector<std::unique_ptr<ExtensionEntry>> extensions_;
    std::vector<std::unique_ptr<ClassEntry>> classes_;
};

// The program's one list, over the process-wide picture format table.
TFileFormatList& FileFormatList();
