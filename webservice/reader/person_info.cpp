#include "webservice/reader/person_info.h"

namespace Reader {

PersonInfo::PersonInfo() {
    PersonInfo::Clear();
}

void PersonInfo::Clear() {
    peopleName.clear();
    sexCode = -1;
    peopleSex.clear();
    peopleNation.clear();
    spareNumber = 0;
    peopleBirthday.clear();
    peopleAddress.clear();
    peopleIdCode.clear();
    department.clear();
    startDate.clear();
    endDate.clear();
    spareText1.clear();
    spareText2.clear();
    certType.clear();
    newAppMsg.clear();
    rawBlock1.fill(0);
    rawBlock2.fill(0);
    rawBlock3.fill(0);
    bmpData.fill(0);
    base64JpgData.fill(0);
    base64JpgLength = 0;
}

PersonInfoEx::PersonInfoEx() {
    PersonInfoEx::Clear();
}

void PersonInfoEx::Clear() {
    PersonInfo::Clear();
    nationCode.clear();
    peopleChineseName.clear();
    peopleCertVersion.clear();
    passCheckId.clear();
    issuesNum.clear();
}

}  // namespace Reader
