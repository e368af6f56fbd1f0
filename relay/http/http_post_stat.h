#pragma once

#include <cstdint>
#include <string>

namespace Osmer {

class CHttpClientT;

// Progress of a post context. The byte counts come in two kinds: "bytes" count what the caller
// posts (every byte of a form body; the values and file contents of an upload), "actual bytes"
// count the body on the wire (for an upload with its part heads and boundaries). Every accessor
// but IsActive throws when no post context is active.
class CHttpPostStatT {
  public:
    CHttpPostStatT() = default;
    virtual ~CHttpPostStatT();
    CHttpPostStatT(const CHttpPostStatT&) = default;
    CHttpPostStatT& operator=(const CHttpPostStatT&) = default;
    CHttpPostStatT(CHttpPostStatT&&) noexcept = default;
    CHttpPostStatT& operator=(CHttpPostStatT&&) noexcept = default;

    bool IsActive() const { return active_; }

    uint32_t TotalByte() const;
    uint32_t PostedByte() const;
    uint32_t RemainByte() const;
    uint32_t ActualTotalByte() const;
    uint32_t ActualPostedByte() const;
    uint32_t ActualRemainByte() const;
    bool IsComplete() const;

    uint32_t TotalCount() const;  // parameters
    uint32_t PostedCount() const;
    uint32_t RemainCount() const;
    uint32_t FileCount() const;
    uint32_t PostedFileCount() const;

    // The parameter being posted: its name, its file path (empty for a plain value), its length
    // and the bytes of it posted.
    const std::u16string& CurrParam() const;
    const std::u16string& CurrParamFile() const;
    bool CurrParamIsFile() const;
    uint32_t CurrParamLength() const;
    uint32_t CurrParamPostedByte() const;
    uint32_t CurrParamRemainByte() const;
    bool CurrParamIsComplete() const;

  private:
    friend class CHttpClientT;

    void Start(uint32_t totalByte, uint32_t actualTotalByte, uint32_t totalCount,
               uint32_t fileCount);
    void StartParam(const std::u16string& name, const std::u16string& filePath, uint32_t length);
    // Bytes written: `bytes` of what the caller posts, `actualBytes` on the wire.
    void AddPosted(uint32_t bytes, uint32_t actualBytes);
    // Bytes of the current parameter's value or file written.
    void AddParamPosted(uint32_t bytes);
    void CompleteParam();
    void Clear() { *this = CHttpPostStatT(); }

    bool active_ = false;
    uint32_t totalByte_ = 0;
    uint32_t postedByte_ = 0;
    uint32_t actualTotalByte_ = 0;
    uint32_t actualPostedByte_ = 0;
    uint32_t totalCount_ = 0;
    uint32_t postedCount_ = 0;
    uint32_t fileCount_ = 0;
    uint32_t postedFileCount_ = 0;
    std::u16string currParam_;
    std::u16string currParamFile_;
    uint32_t currParamLength_ = 0;
    uint32_t currParamPostedByte_ = 0;
};

}  // namespace Osmer
