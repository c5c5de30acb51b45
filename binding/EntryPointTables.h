#pragma once

#include <string>

namespace zembra {

// Fill and clear procedures of the entry-point tables, one pair per library.
void FillAVCodec(const std::string& FileName, void* Module);
void ClearAVCodec();
void FillAVDevice(const std::string& FileName, void* Module);
void ClearAVDevice();
void FillAVFilter(const std::string& FileName, void* Module);
void ClearAVFilter();
void FillAVFormat(const std::string& FileName, void* Module);
void ClearAVFormat();
void FillAVUtil(const std::string& FileName, void* Module);
void ClearAVUtil();
void FillSwScale(const std::string& FileName, void* Module);
void ClearSwScale();
void FillMyUtil(const std::string& FileName, void* Module);
void ClearMyUtil();
void FillSDL(const std::string& FileName, void* Module);
void ClearSDL();
void FillSwResample(const std::string& FileName, void* Module);
void ClearSwResample();

}  // namespace zembra
