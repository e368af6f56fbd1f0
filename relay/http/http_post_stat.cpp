#include "relay/http/http_post_stat.h"

#include <string>

#include "relay/http/http_error.h"
#include "relay/http/size_arithmetic.h"

namespace Osmer {
namespace {

// Refuses the accessor `name` when the context is not active.
void RequireActive(bool active, const char* name) {
    if (!active) {
        ThrowArgumentError(
            (std::string("CHttpPostStatT::") + name + ": The post context is not active.").c_str());
    }
}

}  // namespace

CHttpPostStatT::~CHttpPostStatT() = default;

uint32_t CHttpPostStatT::TotalByte() const {
    RequireActive(active_, "TotalByte");
    return totalByte_;
}

uint32_t CHttpPostStatT::PostedByte() const {
    RequireActive(active_, "PostedByte");
    return postedByte_;
}

uint32_t CHttpPostStatT::RemainByte() const {
    RequireActive(active_, "RemainByte");
    return SizeSubtract(totalByte_, postedByte_);
}

uint32_t CHttpPostStatT::ActualTotalByte() const {
    RequireActive(active_, "ActualTotalByte");
    return actualTotalByte_;
}

uint32_t CHttpPostStatT::ActualPostedByte() const {
    RequireActive(active_, "ActualPostedByte");
    return actualPostedByte_;
}

uint32_t CHttpPostStatT::ActualRemainByte() const {
    RequireActive(active_, "ActualRemainByte");
    return SizeSubtract(actualTotalByte_, actualPostedByte_);
}

bool CHttpPostStatT::IsComplete() const {
    RequireActive(active_, "IsComplete");
    return actualPostedByte_ == actualTotalByte_ && postedCount_ == totalCount_;
}

uint32_t CHttpPostStatT::TotalCount() const {
    RequireActive(active_, "TotalCount");
    return totalCount_;
}

uint32_t CHttpPostStatT::PostedCount() const {
    RequireActive(active_, "PostedCount");
    return postedCount_;
}

uint32_t CHttpPostStatT::RemainCount() const {
    RequireActive(active_, "RemainCount");
    return SizeSubtract(totalCount_, postedCount_);
}

uint32_t CHttpPostStatT::FileCount() const {
    RequireActive(active_, "FileCount");
    return fileCount_;
}

uint32_t CHttpPostStatT::PostedFileCount() const {
    RequireActive(active_, "PostedFileCount");
    return postedFileCount_;
}

const std::u16string& CHttpPostStatT::CurrParam() const {
    RequireActive(active_, "CurrParam");
    return currParam_;
}

const std::u16string& CHttpPostStatT::CurrParamFile() const {
    RequireActive(active_, "CurrParamFile");
    return currParamFile_;
}

bool CHttpPostStatT::CurrParamIsFile() const {
    RequireActive(active_, "CurrParamIsFile");
    return !currParamFile_.empty();
}

uint32_t CHttpPostStatT::CurrParamLength() const {
    RequireActive(active_, "CurrParamLength");
    return currParamLength_;
}

uint32_t CHttpPostStatT::CurrParamPostedByte() const {
    RequireActive(active_, "CurrParamPostedByte");
    return currParamPostedByte_;
}

uint32_t CHttpPostStatT::CurrParamRemainByte() const {
    RequireActive(active_, "CurrParamRemainByte");
    return SizeSubtract(currParamLength_, currParamPostedByte_);
}

bool CHttpPostStatT::CurrParamIsComplete() const {
    RequireActive(active_, "CurrParamIsComplete");
    return currParamPostedByte_ == currParamLength_;
}

void CHttpPostStatT::Start(uint32_t totalByte, uint32_t actualTotalByte, uint32_t totalCount,
                           uint32_t fileCount) {
    Clear();
    active_ = true;
    totalByte_ = totalByte;
    actualTotalByte_ = actualTotalByte;
    totalCount_ = totalCount;
    fileCount_ = fileCount;
}

void CHttpPostStatT::StartParam(const std::u16string& name, const std::u16string& filePath,
                                uint32_t length) {
    currParam_ = name;
    currParamFile_ = filePath;
    currParamLength_ = length;
    currParamPostedByte_ = 0;
}

void CHttpPostStatT::AddPosted(uint32_t bytes, uint32_t actualBytes) {
    postedByte_ = SizeAdd(postedByte_, bytes);
    actualPostedByte_ = SizeAdd(actualPostedByte_, actualBytes);
}

void CHttpPostStatT::AddParamPosted(uint32_t bytes) {
    currParamPostedByte_ = SizeAdd(currParamPostedByte_, bytes);
}

void CHttpPostStatT::CompleteParam() {
    postedCount_ = SizeAdd(postedCount_, 1);
    if (!currParamFile_.empty()) {
        postedFileCount_ = SizeAdd(postedFileCount_, 1);
    }
}

}  // namespace Osmer
