# Logging front end. Everything goes through FFI::Misc#log (subsystem,
# level, text); a nil subsystem is logged as "Game". Before the runtime
# exists (while the library itself loads) a private binding object is used,
# and without the binding the interpreter's own output.
module ORB
  class Log
    LEVEL_SPAM = 0
    LEVEL_DEBUG = 1
    LEVEL_INFO = 2
    LEVEL_WARN = 3
    LEVEL_ERROR = 4
    LEVEL_UNFILTERED = 2147483646

    NUL = "\0"

    class << self
      def write(subsystem, level, text)
        text = text.to_s
        text = text.delete(NUL) if text.include?(NUL)
        misc = ffi_misc
        if misc
          misc.log(subsystem, level, text)
        else
          __printstr__("#{text}\n")
        end
        nil
      end

      def ffi_misc
        runtime = $orb
        return runtime.ffi_misc if runtime
        return @ffi_misc if @ffi_misc
        return nil unless Object.const_defined?(:FFI) && FFI.const_defined?(:Misc)
        @ffi_misc = FFI::Misc.new
      end

      def spam(text, subsystem = nil)
        write(subsystem, LEVEL_SPAM, text)
      end

      def debug(text, subsystem = nil)
        write(subsystem, LEVEL_DEBUG, text)
      end

      def info(text, subsystem = nil)
        write(subsystem, LEVEL_INFO, text)
      end

      def warn(text, subsystem = nil)
        write(subsystem, LEVEL_WARN, text)
      end

      def error(text, subsystem = nil)
        write(subsystem, LEVEL_ERROR, text)
      end

      def unfiltered(text, subsystem = nil)
        write(subsystem, LEVEL_UNFILTERED, text)
      end

      alias log_spam spam
      alias log_debug debug
      alias log_info info
      alias log_warn warn
      alias log_error error
      alias log_unfiltered unfiltered

      # `puts` semantics: one line per object, Arrays flattened, nil as an
      # empty line, one trailing line end dropped per object. One call makes
      # one log entry.
      def __puts__(objs)
        lines = []
        __collect_puts_lines__(objs, lines)
        text = lines.empty? ? "" : lines.join("\n")
        text = "#{text}\n#{caller(2, 1)[0]}" if $trace_puts
        write(nil, LEVEL_INFO, text)
      end

      def __print__(objs)
        text = objs.map(&:to_s).join
        text = text.chomp
        write(nil, LEVEL_INFO, text)
      end

      def __p__(objs)
        return nil if objs.empty?
        write(nil, LEVEL_INFO, objs.map(&:inspect).join("\n"))
      end

      def puts(*objs)
        __puts__(objs)
      end

      def __collect_puts_lines__(objs, lines)
        objs.each do |obj|
          if obj.is_a?(Array)
            __collect_puts_lines__(obj, lines)
          else
            lines << obj.to_s.chomp
          end
        end
      end
    end
  end
end
