#include "ui/PictureEx.h"

#include <QApplication>
#include <QBuffer>
#include <QImageReader>
#include <QFile>
#include <QPainter>
#include <QPalette>

#include <cstdio>
#include <limits>

#include "ui/GifSplitter.h"

namespace {

constexpr const char* kGifFormat = "GIF";

QImage Decode(std::span<const std::uint8_t> data, const char* format) {
  QImage image;
  if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return image;
  if (!image.loadFromData(data.data(), static_cast<int>(data.size()), format)) return QImage();
  return image;
}

}  // namespace

CPictureEx::CPictureEx(QWidget* parent) : QWidget(parent) {}

CPictureEx::~CPictureEx() { Clear(); }

bool CPictureEx::LoadFromResource(const QString& name, const QString& type) {
  QFile file(QStringLiteral(":/%1/%2").arg(type, name));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  if (bytes.isEmpty()) return false;
  return LoadFromMemory(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
}

bool CPictureEx::LoadFromMemory(std::span<const std::uint8_t> data) {
  Clear();
  if (!gif::HasSignature(data)) return LoadStill(data, std::nullopt);

  m_bIsGif = true;
  const auto screen = gif::ReadScreen(data);
  if (!screen) {
    Clear();
    return false;
  }
  m_sizeImage = QSize(screen->width, screen->height);
  const auto slices = gif::SplitFrames(data, *screen);
  if (slices.empty()) {
    Clear();
    return false;
  }
  const gif::Fit fit = gif::FitInBudget(*screen, slices.size());
  if (fit == gif::Fit::kNothing) {
    Clear();
    SetNote(QStringLiteral("This GIF (a %1 x %2 screen) needs more memory than the %3 MiB a picture may take: "
                           "it is not shown.")
                .arg(screen->width)
                .arg(screen->height)
                .arg(gif::kMemoryBudget >> 20));
    return false;
  }
  // One picture: nothing to animate, and the reader takes the data whole.
  if (slices.size() == 1) return LoadStill(data, m_sizeImage);
  if (fit == gif::Fit::kStill) {
    // Its first frame alone fits: shown still, at the logical screen's size.
    SetNote(QStringLiteral("This GIF (a %1 x %2 screen, %3 frames) needs more memory than the %4 MiB a picture "
                           "may take: only its first frame is shown, still.")
                .arg(screen->width)
                .arg(screen->height)
                .arg(slices.size())
                .arg(gif::kMemoryBudget >> 20));
    const QImage first = Decode(gif::FrameStream(data, *screen, slices.front()), kGifFormat);
    if (first.isNull()) {
      Clear();
      return false;
    }
    m_pStill = first;
    return FinishLoad();
  }

  for (const gif::FrameSlice& slice : slices) {
    QImage picture = Decode(gif::FrameStream(data, *screen, slice), kGifFormat);
    if (picture.isNull()) continue;  // a frame the reader refuses is left out
    PictureFrame frame;
    frame.picture = std::move(picture);
    // A plain-text frame has no rectangle of its own: it covers the picture.
    frame.rect = slice.rect ? QRect(slice.rect->left, slice.rect->top, slice.rect->width, slice.rect->height)
                            : QRect(QPoint(0, 0), m_sizeImage);
    frame.delay = slice.delay;
    frame.disposal = slice.disposal;
    m_frames.push_back(std::move(frame));
  }
  if (m_frames.empty()) {
    Clear();
    return false;
  }
  return FinishLoad();
}

bool CPictureEx::LoadStill(std::span<const std::uint8_t> data, std::optional<QSize> size) {
  if (!size && data.size() <= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    // Any other picture is held twice (decoded and on the canvas): its size,
    // read from its header, is weighed the same way before it is decoded.
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QSize announced = QImageReader(&buffer).size();
    const bool tooLarge = announced.width() > 0xFFFF || announced.height() > 0xFFFF;
    if (tooLarge || (announced.isValid() &&
                     gif::FitInBudget(gif::Screen{static_cast<std::uint16_t>(announced.width()),
                                                  static_cast<std::uint16_t>(announced.height()), 0},
                                      1) == gif::Fit::kNothing)) {
      Clear();
      SetNote(QStringLiteral("This picture (%1 x %2) needs more memory than the %3 MiB a picture may take: "
                             "it is not shown.")
                  .arg(announced.width())
                  .arg(announced.height())
                  .arg(gif::kMemoryBudget >> 20));
      return false;
    }
  }
  QImage picture = Decode(data, nullptr);
  if (picture.isNull()) {
    Clear();
    return false;
  }
  m_sizeImage = size ? *size : picture.size();
  m_pStill = std::move(picture);
  return FinishLoad();
}

bool CPictureEx::FinishLoad() {
  resize(m_sizeImage);
  QImage canvas(m_sizeImage, QImage::Format_ARGB32_Premultiplied);
  if (canvas.isNull()) {
    Clear();
    return false;
  }
  const QPalette palette = QApplication::palette();
  m_crBack = palette.color(QPalette::Button);
  canvas.fill(palette.color(QPalette::Window));
  {
    std::lock_guard lock(m_canvasLock);
    m_canvas = std::move(canvas);
  }
  m_bLoaded = true;
  update();
  return true;
}

bool CPictureEx::Show() {
  if (!m_bLoaded) return false;
  if (m_bIsGif && m_frames.size() > 1) {
    if (!m_hAnimThread.joinable()) {
      {
        std::lock_guard lock(m_stopMutex);
        m_bThreadRunning = true;
      }
      m_hAnimThread = std::thread(&CPictureEx::AnimationThread, this);
    }
    return false;
  }
  {
    std::lock_guard lock(m_canvasLock);
    if (!m_pStill.isNull()) {
      QPainter painter(&m_canvas);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(QRect(QPoint(0, 0), m_sizeImage), m_pStill);
    } else if (m_frames.size() == 1) {
      // Only one frame of an animation could be decoded: it is a still.
      DrawFrame(m_frames.front());
    } else {
      return false;
    }
  }
  update();
  return true;
}

void CPictureEx::StopAnimation() {
  m_bAnimating = false;
  m_bStopRequested = true;
  {
    std::lock_guard lock(m_stopMutex);
    m_bStopSignalled = true;
  }
  m_hStopEvent.notify_all();
  if (m_hAnimThread.joinable()) {
    {
      std::unique_lock lock(m_stopMutex);
      if (!m_threadEnded.wait_for(lock, kStopWait, [this] { return !m_bThreadRunning; }))
        std::fprintf(stderr, "CPictureEx: the animation has not ended after %lld ms; still waiting for it\n",
                     static_cast<long long>(kStopWait.count()));
    }
    // Whatever the wait above said, nothing the worker uses may be freed
    // while it runs.
    m_hAnimThread.join();
  }
  {
    std::lock_guard lock(m_stopMutex);
    m_bStopSignalled = false;
  }
  m_bStopRequested = false;
}

void CPictureEx::SetNote(const QString& note) {
  m_note = note;
  setToolTip(note);  // what the person sees of it, on the picture itself
  std::fprintf(stderr, "CPictureEx: %s\n", note.toLocal8Bit().constData());
}

void CPictureEx::Clear() {
  StopAnimation();
  if (!m_note.isEmpty()) {
    m_note.clear();
    setToolTip(QString());
  }
  m_pStill = QImage();
  m_frames.clear();
  {
    std::lock_guard lock(m_canvasLock);
    m_canvas = QImage();
    m_saved = QImage();
    m_savedRect = QRect();
  }
  m_bLoaded = false;
  m_bIsGif = false;
  m_sizeImage = QSize(0, 0);
  m_crBack = QColor(Qt::white);
  m_nFrame = 0;
  update();
}

QImage CPictureEx::Canvas() const {
  std::lock_guard lock(m_canvasLock);
  return m_canvas.copy();
}

bool CPictureEx::WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_stopMutex);
  return m_hStopEvent.wait_for(lock, timeout, [this] { return m_bStopSignalled; });
}

void CPictureEx::Dispose(const PictureFrame& frame) {
  if (frame.disposal == 2) {
    QPainter painter(&m_canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(frame.rect, m_crBack);
  } else if (frame.disposal == 3 && !m_saved.isNull()) {
    QPainter painter(&m_canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(m_savedRect.topLeft(), m_saved);
    m_saved = QImage();
    m_savedRect = QRect();
  }
}

void CPictureEx::DrawFrame(const PictureFrame& frame) {
  // The reader composes a frame onto the whole logical screen; then only the
  // frame's own rectangle of it is the frame.
  const QRect whole(QPoint(0, 0), m_sizeImage);
  const QRect source =
      frame.picture.size() == m_sizeImage && frame.rect != whole ? frame.rect : frame.picture.rect();
  QPainter painter(&m_canvas);
  painter.drawImage(frame.rect, frame.picture, source);
}

void CPictureEx::AnimationThread() {
  m_bAnimating = true;
  const std::size_t count = m_frames.size();
  int index = m_nFrame.load();
  if (index < 0 || static_cast<std::size_t>(index) >= count) index = 0;
  {
    std::lock_guard lock(m_canvasLock);
    Dispose(m_frames[static_cast<std::size_t>(index)]);
  }
  while (!m_bStopRequested) {
    const PictureFrame& frame = m_frames[static_cast<std::size_t>(index)];
    {
      std::lock_guard lock(m_canvasLock);
      if (frame.disposal == 3) {
        m_saved = m_canvas.copy(frame.rect);
        m_savedRect = frame.rect;
      }
      DrawFrame(frame);
    }
    ++m_framesDrawn;
    // Posted: the widget is the UI thread's.
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
    if (m_bStopRequested || WaitForStop(gif::FrameWait(frame.delay))) break;
    {
      std::lock_guard lock(m_canvasLock);
      Dispose(frame);
    }
    if (static_cast<std::size_t>(++index) >= count) {
      index = 0;
      std::lock_guard lock(m_canvasLock);
      m_canvas.fill(m_crBack);
    }
    m_nFrame = index;
  }
  m_bAnimating = false;
  {
    std::lock_guard lock(m_stopMutex);
    m_bThreadRunning = false;
  }
  m_threadEnded.notify_all();
}

void CPictureEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  std::lock_guard lock(m_canvasLock);
  if (!m_canvas.isNull()) painter.drawImage(QPoint(0, 0), m_canvas);
}
