# Text metrics of the developer console.
module ORB
  class Console
    class FontStyle
      attr_reader :font, :size_enum, :line_height

      def initialize(font:, size_enum:, line_height:)
        @font = font
        @size_enum = size_enum
        @line_height = line_height
      end

      # Size of "W" in this font; a fixed estimate until text can be measured.
      def letter_size
        @letter_size ||= __measure__
      end

      def line_height_px
        @line_height_px ||= letter_size[1] * @line_height
      end

      def label(x:, y:, text:, color:, alignment_enum: 0)
        { x: x, y: y + line_height_px, text: text, size_enum: @size_enum,
          alignment_enum: alignment_enum, font: @font,
          r: color[0], g: color[1], b: color[2], a: color[3] || 255 }
      end

      def __measure__
        runtime = $orb
        if runtime && runtime.ffi_misc.respond_to?(:calcstringbox)
          w, h = runtime.ffi_misc.calcstringbox("W", @size_enum.to_f, @font)
          return [w, h] if w && w > 0
        end
        [10.0, 20.0]
      end
    end
  end
end
