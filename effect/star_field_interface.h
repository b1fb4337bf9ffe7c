// The effect's IStarField (host/sdk/istar_field.h): its star records and
// its memory of a render, handed to the host by Qe_Velumbra::GetInterface.
#pragma once

#include "plugin/host.h"
#include "host/sdk/istar_field.h"
#include "starfield/star_field_key.h"

class Qe_Velumbra;

// The generation parameters the effect's block holds at t: what the render
// pass forms its star field's key from (MakeStarFieldKey). A null block
// gives the defaults of StarFieldParams.
StarFieldParams StarFieldParamsAt(IParamBlock2* pb, TimeValue t);

class QeStarFieldInterface final : public IStarField {
 public:
  explicit QeStarFieldInterface(Qe_Velumbra& effect) : effect_(effect) {}
  QeStarFieldInterface(const QeStarFieldInterface&) = delete;
  QeStarFieldInterface& operator=(const QeStarFieldInterface&) = delete;

  // The records go to the sink in runs of at most kRecordsPerCall.
  static constexpr std::size_t kRecordsPerCall = 4096;

  StarRecordsResult EnumStarRecords(TimeValue t, StarRecordSink& sink, CheckAbortCallback* progress) override;
  StarFieldMemory RenderMemory(const TimeValue* times, int count, int workers) override;

 private:
  // The listing of the sky's stars (starsource "Catalogue" at t).
  StarRecordsResult EnumSkyStars(TimeValue t, StarRecordSink& sink);

  Qe_Velumbra& effect_;
};
