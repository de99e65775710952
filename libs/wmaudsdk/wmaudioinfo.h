#pragma once

#include "wmaudsdk.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace TagLib::ASF {
class File;
}

// One opened ASF file. Reads come from the tag TagLib parsed at opening;
// writes are applied to that tag at once (so later reads see them) and
// remembered, to be replayed onto the file's header at Finish.
class WMAudioInfo final : public IWMAudioInfo2 {
public:
    struct PendingWrite {
        std::u16string name;
        std::uint32_t type;
        std::vector<std::uint8_t> value;
    };

    // Null when the file cannot be opened or is not ASF.
    static WMAudioInfo *open(const std::string &path);

    std::int32_t QueryInterface(const std::uint8_t *iid, void **object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    std::int32_t Unused3() override;
    std::int32_t Unused4() override;
    std::int32_t ReadAttribute(const char16_t *name, std::uint32_t *type, std::uint8_t *value,
                               std::uint16_t *length) override;
    std::int32_t WriteAttribute(const char16_t *name, std::uint32_t type, const std::uint8_t *value,
                                std::uint16_t length) override;
    std::int32_t Finish() override;
    std::int32_t WriteLongAttribute(const char16_t *name, std::uint32_t type, const std::uint8_t *value,
                                    std::uint32_t length) override;
    std::int32_t ReadLongAttribute(const char16_t *name, std::uint32_t index, std::uint32_t *type,
                                   std::uint8_t *value, std::uint32_t *length) override;

private:
    WMAudioInfo(std::string path, std::unique_ptr<TagLib::ASF::File> file);
    ~WMAudioInfo();

    std::string m_path;
    std::unique_ptr<TagLib::ASF::File> m_file;
    std::vector<PendingWrite> m_pending;
    std::atomic<std::uint32_t> m_references{1};
};
