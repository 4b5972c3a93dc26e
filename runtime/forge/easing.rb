# ORB::Easing: easing functions (`Easing` at the top level).
module ORB
  module Easing
    def self.identity(x)
      x
    end

    def self.flip(x)
      1 - x
    end

    def self.smooth_start(start_at:, end_at: nil, tick_count:, duration: nil, power: 1, flip: false)
      progress = __progress__(start_at, end_at, tick_count, duration)
      value = progress**power
      flip ? 1 - value : value
    end

    def self.smooth_stop(start_at:, end_at: nil, tick_count:, duration: nil, power: 1, flip: false)
      progress = __progress__(start_at, end_at, tick_count, duration)
      value = 1 - (1 - progress)**power
      flip ? 1 - value : value
    end

    def self.__progress__(start_at, end_at, tick_count, duration)
      duration ||= end_at ? end_at - start_at : 1
      return 1.0 if duration <= 0
      progress = (tick_count - start_at) / duration.to_f
      progress = 0.0 if progress < 0
      progress = 1.0 if progress > 1
      progress
    end
  end
end
