#pragma once
// The G-sensor graph under the front pane: the X, Y and Z acceleration of the whole opened
// recording as three curves in g, a cursor at the sample being played and a readout of its values.
#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "recordings/telemetry.h"

namespace orvik::displays {

class GSensorGraph : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kControlId = 1013;
    static constexpr int kX = 15;
    static constexpr int kY = 425;
    static constexpr int kWidth = 646;
    static constexpr int kHeight = 130;

    explicit GSensorGraph(QWidget* parent = nullptr);

    // The samples drawn, owned by the caller's telemetry track; the list may change between calls
    // to reset(). nullptr draws no curves.
    void setSamples(const std::vector<recordings::AccelSample>* samples);
    // Lays the graph out again for the current sample count; the cursor returns to sample 0.
    void reset();
    void setCursor(std::int32_t index);

    std::int32_t cursor() const { return cursor_; }
    std::int32_t samplesPerPage() const { return samplesPerPage_; }
    std::int32_t pageIndex() const { return pageIndex_; }
    std::int32_t pageCount() const { return pageCount_; }

    // The font of the readout row (the skin's font 101).
    void setReadoutFont(const QFont& font);

    // The graph as painted, at its client size.
    QImage renderImage() const;
    // x of sample i on the current page, and the cursor's x.
    int sampleX(std::int32_t i) const;
    int cursorX() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void paintGraph(QPainter& painter) const;
    std::size_t sampleCount() const { return samples_ ? samples_->size() : 0; }

    const std::vector<recordings::AccelSample>* samples_ = nullptr;
    std::int32_t samplesPerPage_ = 600;
    std::int32_t pageIndex_ = 0;
    std::int32_t pageCount_ = 0;
    std::int32_t cursor_ = 0;
    QFont readoutFont_;
    QFont scaleFont_;
};

}  // namespace orvik::displays
