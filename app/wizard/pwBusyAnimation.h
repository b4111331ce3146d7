// The busy animation of the converting screen: a strip of eleven frames
// shown one after the other, a tenth of a second each.
#pragma once

#include <QTimer>
#include <QWidget>

namespace pw {

class TpwBusyAnimation : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kFrames = 11;
  static constexpr int kFrameMs = 100;

  explicit TpwBusyAnimation(QWidget* parent = nullptr);
  void Start();
  void Stop();
  bool Running() const { return timer_.isActive(); }
  int Frame() const { return frame_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer timer_;
  int frame_ = 0;
};

}  // namespace pw
