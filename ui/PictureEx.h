// A picture control that animates multi-frame GIFs.
//
// A GIF is split into its frames (ui/GifSplitter), each frame decoded on its
// own by Qt's GIF reader, and the frames are played by a worker thread into
// an off-screen image: each for its delay, with its disposal method, looping
// for ever. The paint handler copies the off-screen image. A one-frame GIF
// or any other picture Qt reads is shown still.
//
// The worker and the paint handler share the off-screen image under one lock;
// the worker never touches the widget, it posts a repaint. The worker is
// always joined before anything it uses is freed.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

class CPictureEx : public QWidget {
  Q_OBJECT
 public:
  struct PictureFrame {
    QImage picture;                      // the decoded frame
    QRect rect;                          // where it goes in the picture
    std::optional<std::uint16_t> delay;  // hundredths of a second
    std::uint8_t disposal = 0;
  };

  explicit CPictureEx(QWidget* parent = nullptr);
  ~CPictureEx() override;

  // The program's resource `name` of type `type` (":/type/name").
  bool LoadFromResource(const QString& name, const QString& type);
  bool LoadFromMemory(std::span<const std::uint8_t> data);
  // Starts the worker for an animation (and returns false, as nothing is
  // drawn yet); draws a still picture and returns true; false when nothing
  // is loaded.
  bool Show();
  // Ends the worker; returns only once it has ended. A later Show goes on
  // from the frame where it stopped.
  void StopAnimation();
  // Back to empty.
  void Clear();

  bool IsLoaded() const { return m_bLoaded; }
  bool IsGif() const { return m_bIsGif; }
  bool IsAnimating() const { return m_bAnimating.load(); }
  QSize ImageSize() const { return m_sizeImage; }
  const std::vector<PictureFrame>& Frames() const { return m_frames; }
  int CurrentFrame() const { return m_nFrame.load(); }
  QColor BackColor() const { return m_crBack; }
  // Why a picture is shown only in part or not at all (one too large for
  // the memory a picture may take); empty otherwise. Also the control's
  // tooltip.
  const QString& Note() const { return m_note; }
  // A copy of the off-screen image as it is now.
  QImage Canvas() const;
  // Frames the worker has drawn since the control was made.
  std::uint64_t FramesDrawn() const { return m_framesDrawn.load(); }

  // How long the worker may take to end before StopAnimation says so on
  // standard error (it still waits: nothing the worker uses is freed early).
  static constexpr std::chrono::milliseconds kStopWait{5000};

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool LoadStill(std::span<const std::uint8_t> data, std::optional<QSize> size);
  bool FinishLoad();
  void SetNote(const QString& note);
  void AnimationThread();
  // Both with the canvas lock held.
  void Dispose(const PictureFrame& frame);
  void DrawFrame(const PictureFrame& frame);
  // Waits on the stop event; true when a stop was asked for.
  bool WaitForStop(std::chrono::milliseconds timeout);

  bool m_bLoaded = false;
  bool m_bIsGif = false;
  std::atomic<bool> m_bAnimating{false};
  std::atomic<bool> m_bStopRequested{false};
  QSize m_sizeImage{0, 0};
  QColor m_crBack{Qt::white};
  std::atomic<int> m_nFrame{0};
  std::vector<PictureFrame> m_frames;
  QImage m_pStill;
  QString m_note;

  // The stop event (manual reset) and the worker's end, under one mutex.
  std::mutex m_stopMutex;
  std::condition_variable m_hStopEvent;
  bool m_bStopSignalled = false;
  std::condition_variable m_threadEnded;
  bool m_bThreadRunning = false;  // guarded by m_stopMutex
  std::thread m_hAnimThread;

  // The off-screen image, and the area saved under a frame with disposal 3.
  mutable std::mutex m_canvasLock;
  QImage m_canvas;
  QImage m_saved;
  QRect m_savedRect;
  std::atomic<std::uint64_t> m_framesDrawn{0};
};
