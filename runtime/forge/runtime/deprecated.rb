# ORB::Runtime::Deprecated: calls kept for old games, each explaining its
# replacement once.
module ORB
  class Runtime
    module Deprecated
      def stop_music
        return nil if @stop_music_warned
        @stop_music_warned = true
        log_important("* IMPORTANT: ~stop_music~ is deprecated. Remove the entry from ~args.audio~ to stop a sound, or clear ~args.audio~ to stop every sound.")
        nil
      end
    end
  end
end
