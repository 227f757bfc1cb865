// kestrix-cli dcu over standalone units and the units of a compiled package
// file, run as a separate program over a private prefix.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/cli_run.h"
#include "support/test_system.h"

namespace kx {
namespace {

std::string Fixture(const std::string& name) {
  return test::ReadHostText(std::string(KX_FIXTURES_DIR) + "/" + name);
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(CliDcu, InterfacesErrorsAndExitCodes) {
  test::TempPrefix prefix;
  const std::string gauges = Fixture("dcu/Gauges2.dcu");
  prefix.WriteFile("C:\\U\\Gauges2.dcu", Bytes(gauges));
  prefix.WriteFile("C:\\U\\DemoComp.dcp",
                   Bytes(Fixture("demo-prefix/drive_c/Projects/Demo/DemoComp.dcp")));
  std::string cut = gauges.substr(0, gauges.size() - 1);
  prefix.WriteFile("C:\\U\\Cut.dcu", Bytes(cut));
  prefix.WriteText("C:\\U\\Text.dcu", "unit Text;");

  const std::string demo = Fixture("dcu/SysInit.pas") + "\n" + Fixture("dcu/DemoCtrls.pas") + "\n" +
                           Fixture("dcu/DemoReg.pas") + "\n" + Fixture("dcu/DemoUtils.pas");
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out, err;
  } cases[] = {
      {{"dcu", "C:\\U\\Gauges2.dcu"}, 0, Fixture("dcu/Gauges2.pas"), ""},
      {{"dcu", "C:\\U\\DemoComp.dcp", "democtrls"}, 0, Fixture("dcu/DemoCtrls.pas"), ""},
      {{"dcu", "C:\\U\\DemoComp.dcp"}, 0, demo, ""},
      {{"dcu", "C:\\U\\DemoComp.dcp", "Nope"},
       2,
       "",
       "Unit Nope not found in C:\\U\\DemoComp.dcp\n"},
      {{"dcu", "C:\\U\\DemoComp.dcp", "DemoComp"},
       1,
       "",
       "No compiled unit for the package source.\n"},
      {{"dcu", "C:\\U\\Cut.dcu"},
       1,
       "",
       "C:\\U\\Cut.dcu is damaged at offset $00000004: the unit size 1512 differs from the "
       "1511 bytes of the unit.\n"},
      {{"dcu", "C:\\U\\Text.dcu"}, 1, "", "C:\\U\\Text.dcu is not a Delphi 3 compiled unit.\n"},
      {{"dcu", "C:\\U\\Missing.dcu"}, 1, "", "Cannot open file C:\\U\\Missing.dcu\n"},
      {{"dcu", "C:\\U\\Gauges2.dcu", "Gauges2"}, 2, "", ""},
      {{"dcu"}, 2, "", ""},
  };
  for (const Case& c : cases) {
    const test::CliResult r =
        test::RunCli(prefix.Root(), {{"WINEPREFIX", prefix.Root().string()}}, c.args);
    EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args.back();
    if (c.code != 2 || !c.err.empty()) {
      EXPECT_EQ(r.err, c.err) << c.args.back();
    }
  }

  const test::CliResult r = test::RunCli(prefix.Root(), {{"WINEPREFIX", prefix.Root().string()}},
                                         {"dcu", "C:\\U\\Gauges2.dcu", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["unit"], "Gauges2");
  EXPECT_EQ(j["uses"]["interface"], nlohmann::json::array({"Messages", "Classes"}));
  EXPECT_EQ(j["uses"]["implementation"], nlohmann::json::array());
  const auto& reset = j["declarations"][j["declarations"].size() - 2];
  EXPECT_EQ(reset["kind"], "procedure");
  EXPECT_EQ(reset["parameters"][1],
            nlohmann::json({{"name", "Old"}, {"kind", "out"}, {"type", "Integer"}}));
  const auto& gauge = j["declarations"][4];
  EXPECT_EQ(gauge["name"], "TGauge2");
  EXPECT_EQ(gauge["members"][13]["value"], "read FKind write FKind default gkBar2");
  EXPECT_EQ(gauge["members"][13]["visibility"], "published");
}

}  // namespace
}  // namespace kx
