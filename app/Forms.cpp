#include "app/Forms.h"

namespace kve17 {

TForm1* Form1 = nullptr;
TFormPort* FormPort = nullptr;
TFormNastr* FormNastr = nullptr;

} // namespace kve17
