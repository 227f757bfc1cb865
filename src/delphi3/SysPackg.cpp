// The standard package tables of Delphi 3.
#include "delphi3/SysPackg.h"

#include "platform/strutil.h"

namespace kx {
namespace {

const char* const kRunTimePackages[] = {
    "dss30.dpl",    "ibevnt30.dpl", "inet30.dpl",  "inetdb30.dpl", "qrpt30.dpl",
    "tee30.dpl",    "teedb30.dpl",  "teeui30.dpl", "vcl30.dpl",    "vcldb30.dpl",
    "vcldbx30.dpl", "vclx30.dpl",   "vclsmp30.dpl"};

const char* const kDesignTimePackages[] = {
    "dcltee30.dpl", "dcldb30.dpl",  "dcldss30.dpl", "dcl31w30.dpl", "dclsmp30.dpl",
    "dclqrt30.dpl", "dbx30.dpl",    "dclocx30.dpl", "dclisp30.dpl", "dclnet30.dpl",
    "dclstd30.dpl", "dclusr30.dpl", "dclisp20.dpl"};

bool Contains(const std::vector<std::string>& list, std::string_view name) {
  for (const std::string& entry : list)
    if (SameText(entry, name)) return true;
  return false;
}

}  // namespace

void AddRunTimePackages(std::vector<std::string>& list) {
  for (const char* name : kRunTimePackages) list.emplace_back(name);
}

void AddDesignTimePackages(std::vector<std::string>& list) {
  for (const char* name : kDesignTimePackages) list.emplace_back(name);
}

bool IsStandardPackage(const std::vector<std::string>& runTimePackages,
                       const std::vector<std::string>& designTimePackages,
                       std::string_view fileName) {
  return Contains(runTimePackages, fileName) || Contains(designTimePackages, fileName);
}

}  // namespace kx
