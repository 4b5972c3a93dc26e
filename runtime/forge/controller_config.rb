# ORB::Controller::Config: the controller configuration screen, fed by the
# raw joystick entry points. It only records the joysticks for now.
module ORB
  class Controller
    class Config
      attr_reader :joysticks

      def initialize
        @joysticks = {}
        @active = false
      end

      def active?
        @active
      end

      def tick(_args)
        nil
      end

      def rawjoystick_connected(jid, joystickname, guid)
        @joysticks[jid] = { name: joystickname, guid: guid }
      end

      def rawjoystick_disconnected(jid)
        @joysticks.delete(jid)
      end

      def rawjoystick_axis(_jid, _axis, _value); end

      def rawjoystick_hat(_jid, _hat, _value); end

      def rawjoystick_button(_jid, _button, _pressed); end
    end
  end
end
