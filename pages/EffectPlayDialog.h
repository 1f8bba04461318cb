// The effect dialog: tells the user that the lamp board plays a lighting
// effect, with an animated picture beside the message and a red STOP button.
// While it opens it uploads the effect data to the board; STOP writes the
// LEDs' brightness back (which also stops the chip's effect) and closes it.
#pragma once

#include <QDialog>
#include <QString>

#include "ui/WindowShadow.h"

class CMyRectButton;
class CMyStaticFont;
class CPictureEx;

// The text the dialog shows; the page that opens it sets it first.
extern QString g_strEffectMessage;

class CLamp_Effect_Play;
// The open effect dialog, null while none is open.
extern CLamp_Effect_Play* g_pEffectDialog;

class CLamp_Effect_Play : public QDialog {
  Q_OBJECT
 public:
  // Where the picture comes from: the program's GIF resource 189.
  static constexpr const char* kPictureResource = "189";
  static constexpr const char* kPictureType = "Gif";

  explicit CLamp_Effect_Play(QWidget* parent = nullptr);
  ~CLamp_Effect_Play() override;

  // Opens the dialog, modal for `owner`'s window, and returns at once; it
  // deletes itself when it closes. While one is open it is raised instead.
  static CLamp_Effect_Play* Open(QWidget* owner);

  void InitDialog();
  // The effect data block with command (64, 1). 1 when it went out, 0 when
  // not (no link, no chip registry).
  int UploadEffect();
  void OnStop();
  // Every way of closing the window (Escape, the window manager) is STOP:
  // an effect left running would have no button left to stop it.
  void reject() override;

  CPictureEx* Picture() const { return m_picture; }
  CMyStaticFont* Message() const { return m_message; }
  CMyRectButton* StopButton() const { return m_stop; }
  const WindowShadow& Shadow() const { return m_shadow; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  CMyStaticFont* m_message = nullptr;
  CMyRectButton* m_stop = nullptr;
  CPictureEx* m_picture = nullptr;
  WindowShadow m_shadow;
};
