// Rows handed between threads: all of them, in order, with nulls and empty
// texts apart; a consumer that stops early never leaves the producer stuck.
#include "base/row_batches.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace corvane {
namespace {

void Produce(BatchPipe& pipe, int rows, int& sent) {
  std::optional<RowBatch> batch = pipe.Empty(2);
  for (int r = 0; r < rows && batch; ++r, ++sent) {
    batch->Add(std::to_string(r), false);
    batch->Add(r % 3 == 0 ? "" : std::string(r % 5000, 'x'), r % 3 == 0 && r % 2 == 0);
    if (BatchPipe::IsFull(*batch)) {
      pipe.Send(std::move(*batch));
      batch = pipe.Empty(2);
    }
  }
  if (batch && batch->rows() > 0) pipe.Send(std::move(*batch));
  pipe.Finish();
}

TEST(RowBatchesTest, EveryRowArrivesInOrderOrTheProducerStops) {
  for (const int stop_after : {-1, 700}) {
    BatchPipe pipe;
    int sent = 0;
    std::thread producer([&] { Produce(pipe, 20000, sent); });
    int next = 0;
    while (std::optional<RowBatch> batch = pipe.Next()) {
      for (size_t r = 0; r < batch->rows(); ++r, ++next) {
        EXPECT_EQ(batch->text(r, 0), std::to_string(next));
        EXPECT_EQ(batch->is_null(r, 1), next % 6 == 0);
        EXPECT_EQ(batch->text(r, 1).size(), next % 3 == 0 ? 0u : size_t(next % 5000));
      }
      pipe.Recycle(std::move(*batch));
      if (next >= stop_after && stop_after >= 0) break;
    }
    pipe.Cancel();
    producer.join();
    // Run to the end, or stopped well before it.
    EXPECT_EQ(stop_after < 0 ? next : 0, stop_after < 0 ? 20000 : 0);
    EXPECT_LT(stop_after < 0 ? 0 : sent, 20000);
  }
}

}  // namespace
}  // namespace corvane
