# ORB::Runtime::AsyncRequire: requires issued once the game is ready are
# queued and loaded at the next step.
module ORB
  class Runtime
    module AsyncRequire
      def require_async(path)
        path = __require_path__(path)
        __queue_file__(path)
        true
      end

      def reload_pending?
        !@reload_list.empty?
      end
    end
  end
end
