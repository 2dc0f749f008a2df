#pragma once
// The printer as the board's list output sees it: one document at a time, drawn in the
// printer's device units with a 12-point serif font. The main window implements it on the
// platform's printer; tests record the calls.
#include <string>
#include <string_view>

namespace mirte {

class IPrinterCanvas {
public:
  virtual ~IPrinterCanvas() = default;

  // Begins a document with the job title (UTF-8). The font is "Times New Roman" 12 pt.
  virtual void BeginDoc(const std::string& title) = 0;
  virtual void NewPage() = 0;
  // Ends the document: it goes to the printer, unless nothing was drawn on it (a job of
  // Ctrl-Z alone, or of line ends only), which leaves nothing behind.
  virtual void EndDoc() = 0;
  // Cancels the document: nothing is printed.
  virtual void Abort() = 0;

  virtual int PageWidth() const = 0;
  virtual int PageHeight() const = 0;
  // Extent of a text in the document's font; text is Windows-1252 bytes.
  virtual int TextHeight(std::string_view text) const = 0;
  virtual int TextWidth(std::string_view text) const = 0;
  // Draws text (Windows-1252 bytes) with its top left corner at (x, y).
  virtual void TextOut(int x, int y, std::string_view text) = 0;
};

}  // namespace mirte
