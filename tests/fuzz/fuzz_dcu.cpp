// The compiled unit decoder over arbitrary bytes: a unit that decodes has
// exactly the size its header gives, and its interface renders; anything
// else is one of the decoder's two errors.
#include "dcu/DcuInterface.h"
#include "fuzz_support.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const DcuUnit u = DecodeDcu(bytes, "C:\\units\\fuzz.dcu", 0x100);
    fuzz::Require(u.Size == size, "a unit decoded to another end than its header gives");
    const DcuInterface i = MakeDcuInterface(u);
    const std::string text = DcuInterfaceText(i);
    fuzz::Require(text.rfind("unit ", 0) == 0 && text.size() >= 5 &&
                      text.compare(text.size() - 5, 5, "end.\n") == 0,
                  "the interface text is not a unit");
  } catch (const EDcuDamaged& e) {
    fuzz::Require(e.Offset() >= 0x100 && e.Offset() <= 0x100 + size,
                  "a damage offset outside the unit");
  } catch (const EDcuNotUnit&) {
    fuzz::Require(!LooksLikeDcu(bytes), "a unit's magic refused");
  }
  return 0;
}
