// The program's single windows, created at start-up and living until it ends.
#pragma once

namespace kve17 {

class TForm1;
class TFormNastr;
class TFormPort;

extern TForm1* Form1;
extern TFormPort* FormPort;
extern TFormNastr* FormNastr;

} // namespace kve17
