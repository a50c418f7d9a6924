// common\LiteTools: command-line lookup, boolean text, identifier and hex text, checks, the start-up self-check.
#pragma once

#include "Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program's arguments, argument 0 being the program path, as 8-bit text.
std::vector<std::string> ParamList();

bool ParamExists(const std::string& name);
std::string GetParamValue(const std::string& name);
std::string GetParamValueDef(const std::string& name, const std::string& def);

// The same lookups over a given argument list (argument 0 = program path).
bool ParamExists(const std::vector<std::string>& args, const std::string& name);
std::string GetParamValue(const std::vector<std::string>& args, const std::string& name);
std::string GetParamValueDef(const std::vector<std::string>& args, const std::string& name, const std::string& def);

bool TextToBool(const std::string& text, bool def);
bool TextToBool(const std::wstring& text, bool def);
std::string BoolToText(bool value);
int CountChar(wchar_t ch, const std::wstring& text);
std::string NewGuidText();

char NibbleToHex(int value);
int HexToNibble(char ch);
std::string StrToHex(const std::string& text);
std::string HexToStr(const std::string& text);
std::string BufToHex(const void* buffer, size_t count);
void HexToBuf(const std::string& text, void* buffer, size_t count);
uint32_t ByteSum(const void* buffer, size_t count);
// The plainly indexed second implementation; the self-check compares the two.
uint32_t ByteSumIndexed(const void* buffer, size_t count);

void Check(bool condition, const std::string& message);
void CheckFmt(bool condition, const char* format, ...);

// The three start-up checks; a failure raises EAssertionFailed "Assertion failure".
void RunSelfCheck();
