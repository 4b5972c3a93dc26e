# ORB::Runtime::Notify: short development notices. The notice band is drawn
# later; for now every non-empty notice goes to the log (and so to the
# console). Nothing happens in production.
module ORB
  class Runtime
    module Notify
      def notify(message, duration = 300)
        notify!(message, duration)
      end

      def notify!(message, duration = 300)
        return nil if @production
        __notify__(message, duration, 255)
      end

      def notify_subdued!
        notify!("", 60)
      end

      def notify_extended!(opts = {})
        env = opts[:env] || :dev
        return nil if @production && env != :prod
        message = opts[:message] || ""
        @notification_message = nil if opts[:overwrite]
        __notify__(message, opts[:duration] || 300, opts[:a] || 255)
      end

      def __notify__(message, duration, alpha)
        message = message.nil? ? "" : message.to_s
        return nil if message == @notification_message
        @notification_message = message
        @notification_start_at = Kernel.global_tick_count
        @notification_duration = duration
        @notification_max_alpha = alpha
        log_info("* NOTIFY: #{message}") unless message.strip.empty?
        nil
      end

      def tick_notification
        return nil if Kernel.tick_count <= -1
        return nil unless @notification_message
        if @console.visible? ||
           Kernel.global_tick_count > @notification_start_at + @notification_duration
          @notification_message = nil
          @notification_start_at = nil
          @notification_duration = nil
        end
        nil
      end
    end
  end
end
